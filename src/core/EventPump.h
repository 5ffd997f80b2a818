// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Long operations run on the user-interface thread and keep the window alive by running the
// pending window events at fixed points.
void pumpEvents();
// Waits ms milliseconds while the event loop keeps running.
void waitPumping(int ms);
