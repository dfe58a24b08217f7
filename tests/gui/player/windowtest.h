#pragma once
// Helpers shared by the player windows' tests.
#include "base/flexfilebuf.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace marlix::test {

// A 16-bit stereo PCM WAV of `frames` frames.
inline void WriteTone(const std::string& path, int frames, int rate)
{
    TFlexFileBuf file;
    ASSERT_EQ(file.OpenFile(1, {path}, rate, 16, 1, 2), 0);
    file.SetBuf(nullptr, 2, 16, frames);
    for (int i = 0; i < frames; ++i)
        static_cast<int16_t*>(file.Data[0])[i] = static_cast<int16_t>(1000 + i % 100);
    ASSERT_EQ(file.WriteBlock(0, frames), frames);
    file.CloseFile(1);
}

// Delivers one mouse event to `w` at `pos` (widget coordinates). A move carries `button`
// as held (Qt::NoButton for a plain move).
inline void SendMouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button = Qt::LeftButton,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::MouseButtons(Qt::NoButton) : Qt::MouseButtons(button);
    QMouseEvent e(type, pos, w->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button,
                  buttons, modifiers);
    QApplication::sendEvent(w, &e);
}

// The pixel at (x, y) as 0xRRGGBB.
inline uint32_t Rgb(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFFu; }

} // namespace marlix::test
