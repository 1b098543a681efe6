#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

/// Runs `act` on the modal dialog that the caller opens next, once it is up (its event loop
/// runs). `act` answers it: the caller's call returns when the dialog closes.
inline void onNextModal(std::function<void(QDialog&)> act)
{
    QTimer::singleShot(0, [act = std::move(act)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(*dialog);
    });
}
