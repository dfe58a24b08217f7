#include "gui/dspui/presetbar.h"

#include "gui/speedbutton.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>

namespace marlix {

TPresetBar::TPresetBar(const QString& name, const QString& kind, TActions actions, QWidget* parent)
    : QWidget(parent), Actions(std::move(actions)), Box(new QComboBox(this)), Bu_Save(new QToolButton(this)),
      Bu_Delete(new QToolButton(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(new QLabel(QStringLiteral("プリセット:"), this));
    Box->setObjectName(name);
    Box->setEditable(true);
    Box->setInsertPolicy(QComboBox::NoInsert);
    Box->setMinimumWidth(120);
    row->addWidget(Box, 1);
    Bu_Save->setObjectName(name + QStringLiteral("Save"));
    Bu_Save->setText(QStringLiteral("保存"));
    SetHint(Bu_Save, QStringLiteral("現在の%1設定を保存します").arg(kind));
    Bu_Delete->setObjectName(name + QStringLiteral("Delete"));
    Bu_Delete->setText(QStringLiteral("削除"));
    SetHint(Bu_Delete, QStringLiteral("現在選択中の%1設定を削除します").arg(kind));
    row->addWidget(Bu_Save);
    row->addWidget(Bu_Delete);
    connect(Box, &QComboBox::activated, this, &TPresetBar::Chosen);
    connect(Bu_Save, &QToolButton::clicked, this, [this] {
        if (!Actions.Save(Box->currentText().toStdString()))
            return; // a name the file system rejects fails without a message
        Refresh();
    });
    connect(Bu_Delete, &QToolButton::clicked, this, [this] {
        Actions.Delete(Box->currentText().toStdString());
        Refresh();
    });
}

void TPresetBar::Refresh()
{
    const QString text = Box->currentText();
    Box->clear();
    for (const std::string& n : Actions.List())
        Box->addItem(QString::fromStdString(n));
    const int i = Box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    Box->setCurrentIndex(i);
    if (i < 0)
        Box->setEditText(text);
}

void TPresetBar::SetAllowed(bool allowed)
{
    const bool named = !Box->currentText().isEmpty();
    SetEnabledSwitch(Bu_Save, allowed && named);
    SetEnabledSwitch(Bu_Delete, allowed && named);
}

void TPresetBar::Chosen(int index)
{
    const QString name = Box->itemText(index);
    if (!Actions.Choose(name.toStdString()))
        Report(name);
}

void TPresetBar::Report(const QString& what)
{
    if (Failed) {
        Failed(what);
        return;
    }
    QMessageBox::warning(this, QStringLiteral("プリセット"),
                         QStringLiteral("プリセット「%1」を読み込めませんでした。設定は変更されていません。").arg(what));
}

} // namespace marlix
