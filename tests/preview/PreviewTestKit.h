// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window fixture under the name the preview tests first knew it by.
#include <QHeaderView>
#include <memory>

#include "mailbox/MessageList.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

#define PREVIEW_TEST_MAIN(TestClass) PELICORDE_TEST_MAIN(TestClass)
