#pragma once
// Every window starts centred on the screen.

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

inline void CentreOnScreen(QWidget* w) {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = w->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    w->move(frame.topLeft());
  }
}
