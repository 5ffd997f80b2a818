#pragma once
// The window fixture under the name the preview tests first knew it by.
#include <QHeaderView>
#include <memory>

#include "app/Controls.h"
#include "app/PelicordeFP.h"
#include "mailbox/MessageList.h"
#include "support/WindowFixture.h"

#define PREVIEW_TEST_MAIN(TestClass) PELICORDE_TEST_MAIN(TestClass)
