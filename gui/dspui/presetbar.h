#pragma once
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QToolButton;

namespace marlix {

// A preset row: the name box (pick to load, or type a new name), save and delete. The
// owner supplies what the kind does; the bar keeps the list and the buttons' states.
class TPresetBar : public QWidget {
public:
    struct TActions {
        std::function<std::vector<std::string>()> List;
        std::function<bool(const std::string&)> Choose;
        std::function<bool(const std::string&)> Save;
        std::function<bool(const std::string&)> Delete;
    };

    // `name` is the combo's object name ("Co_Preset"); `kind` names the kind in the hints.
    TPresetBar(const QString& name, const QString& kind, TActions actions, QWidget* parent);

    // Refills the list, keeping the typed text and selecting the entry equal to it.
    void Refresh();
    // Save and delete need a name, and `allowed` (the output is stopped, for some kinds).
    void SetAllowed(bool allowed);

    QComboBox* Combo() const { return Box; }
    QToolButton* SaveButton() const { return Bu_Save; }
    QToolButton* DeleteButton() const { return Bu_Delete; }
    // Tells the user that a preset could not be loaded; a message box unless replaced.
    std::function<void(const QString&)> Failed;

private:
    void Chosen(int index);
    void Report(const QString& what);

    TActions Actions;
    QComboBox* Box;
    QToolButton* Bu_Save;
    QToolButton* Bu_Delete;
};

} // namespace marlix
