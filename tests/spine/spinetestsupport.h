#pragma once

// What the tests that drive the package's widgets share beyond tests/support: waiting for the
// modal window the code under test opens.

#include "testsupport/demohost.h"
#include "testsupport/paths.h"
#include "testsupport/serverprocess.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace fis::spinetest {

// The fixtures by their former names, for fis-pictures (docs/pictures), which is built from them.
using test::DemoHost;
using test::ServerProcess;

// Runs `drive` on the modal window that the code under test is about to open (polled, since
// exec() starts after the call that schedules this). After two seconds it closes whatever is
// modal, so that a failing test cannot hang; `driven` tells whether `drive` ran.
inline void whenModal(std::function<void(QWidget *)> drive, bool *driven = nullptr)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [drive, tries, poll, driven]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            if (driven)
                *driven = true;
            drive(modal);
            return;
        }
        if (++*tries > 200) {
            if (modal)
                modal->close();
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

} // namespace fis::spinetest
