#include "gui/shortcut.h"

#include <array>
#include <utility>

namespace marlix {
namespace {

// Virtual key codes that are neither letters, digits nor function keys.
constexpr std::array<std::pair<int, int>, 30> kNamedKeys{{
    {8, Qt::Key_Backspace}, {9, Qt::Key_Tab},        {13, Qt::Key_Return},   {19, Qt::Key_Pause},
    {27, Qt::Key_Escape},   {32, Qt::Key_Space},     {33, Qt::Key_PageUp},   {34, Qt::Key_PageDown},
    {35, Qt::Key_End},      {36, Qt::Key_Home},      {37, Qt::Key_Left},     {38, Qt::Key_Up},
    {39, Qt::Key_Right},    {40, Qt::Key_Down},      {45, Qt::Key_Insert},   {46, Qt::Key_Delete},
    {106, Qt::Key_Asterisk}, {107, Qt::Key_Plus},    {109, Qt::Key_Minus},   {110, Qt::Key_Period},
    {111, Qt::Key_Slash},   {186, Qt::Key_Semicolon}, {187, Qt::Key_Equal},  {188, Qt::Key_Comma},
    {189, Qt::Key_Minus},   {190, Qt::Key_Period},   {191, Qt::Key_Slash},   {219, Qt::Key_BracketLeft},
    {220, Qt::Key_Backslash}, {221, Qt::Key_BracketRight},
}};

int KeyOf(int vk)
{
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return vk; // Qt's codes for these are their ASCII values
    if (vk >= 96 && vk <= 105)
        return Qt::Key_0 + (vk - 96); // number pad digits
    if (vk >= 112 && vk <= 135)
        return Qt::Key_F1 + (vk - 112);
    for (const auto& [code, key] : kNamedKeys)
        if (code == vk)
            return key;
    return 0;
}

int VirtualKeyOf(int key)
{
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    for (const auto& [code, named] : kNamedKeys)
        if (named == key)
            return code;
    return 0;
}

} // namespace

uint16_t KeySequenceToShortCut(const QKeySequence& keys)
{
    if (keys.isEmpty())
        return 0;
    const QKeyCombination combo = keys[0];
    const int vk = VirtualKeyOf(combo.key());
    if (vk == 0)
        return 0;
    int code = vk;
    if (combo.keyboardModifiers() & Qt::ShiftModifier)
        code |= 0x2000;
    if (combo.keyboardModifiers() & Qt::ControlModifier)
        code |= 0x4000;
    if (combo.keyboardModifiers() & Qt::AltModifier)
        code |= 0x8000;
    return static_cast<uint16_t>(code);
}

QKeySequence ShortCutToKeySequence(uint16_t code)
{
    const int key = KeyOf(code & 0xFF);
    if (key == 0)
        return {};
    int modifiers = 0;
    if (code & 0x2000)
        modifiers |= Qt::SHIFT;
    if (code & 0x4000)
        modifiers |= Qt::CTRL;
    if (code & 0x8000)
        modifiers |= Qt::ALT;
    return QKeySequence(key | modifiers);
}

} // namespace marlix
