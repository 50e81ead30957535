#pragma once

class QKeyEvent;
class QLineEdit;

namespace kw {

class Desktop;

// Key codes of the key mode, numbered as the program has always numbered keys: letters and
// digits by their upper-case character.
enum KeyCode {
    vbKeyBack = 8,
    vbKeyReturn = 13,
    vbKeyEscape = 27,
    vbKeyLeft = 37,
    vbKeyDown = 40,
    vbKeyDelete = 46,
    vbKeyF1 = 112,
};

enum class FilterMode { Key = 0, Change = 1 };

struct FilterOptions {
    bool allowLowerCase = false;
    bool allowUpperCase = false;
    bool allowBlank = false;
    bool helpOnF1 = false;
    bool setTooltip = false;
};

// Keeps a text field to the letters (and blank) the options allow. Key mode reads keyCode:
// editing and arrow keys keep their action, Escape empties the field, F1 (with helpOnF1) shows
// which characters are allowed, and any other key whose code is no allowed character gets the
// code 0, which cancels its own action; typed characters are left to the change mode. Change
// mode removes every character that is not allowed and puts the caret after the last one.
// False only for a missing field.
bool FilterTextInput(QLineEdit* field, FilterMode mode, int& keyCode, const FilterOptions& options,
                     Desktop& desktop);

// The key code of a key press; 0 for keys that have none.
int KeyCodeOf(const QKeyEvent* event);

}  // namespace kw
