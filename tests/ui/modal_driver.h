#pragma once
// Runs a secondary window modally (its exec) while a script plays the user
// once the window is shown. A window the script leaves open is closed after
// a while, so a failing test ends instead of hanging.

#include <gtest/gtest.h>

#include <QTimer>

#include <functional>

#include "ui/modal_window.h"

namespace firmora::ui {

inline int RunModal(ModalWindow& window, const std::function<void()>& play) {
    QTimer::singleShot(0, &window, play);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &window, [&window] {
        ADD_FAILURE() << "the window was still open";
        window.close();
    });
    guard.start(10'000);
    return window.exec();
}

// The modal results as exec returns them.
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

}  // namespace firmora::ui
