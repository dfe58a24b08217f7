#include "gui/dspui/setupcontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

namespace marlix {

int NumberOr(const QString& text, int fallback)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : fallback;
}

QStringList Numbers(std::initializer_list<int> values)
{
    QStringList list;
    for (int v : values)
        list << QString::number(v);
    return list;
}

QStringList OddPowers(int from, int to)
{
    QStringList list;
    for (int k = from; k <= to; ++k)
        list << QString::number((1 << k) - 1);
    return list;
}

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items, bool editable)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setEditable(editable);
    return c;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QSpinBox* Spin(QWidget* parent, const char* name, int low, int high, const QString& unit)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(low, high);
    if (!unit.isEmpty())
        s->setSuffix(" " + unit);
    return s;
}

QLabel* Label(QWidget* parent, const QString& text)
{
    return new QLabel(text, parent);
}

QPushButton* FileButton(QWidget* parent, const char* name, QLineEdit* edit, const QString& filter)
{
    auto* button = new QPushButton("...", parent);
    button->setObjectName(name);
    QObject::connect(button, &QPushButton::clicked, parent, [parent, edit, filter] {
        const QString file = QFileDialog::getOpenFileName(parent, {}, edit->text(), filter);
        if (!file.isEmpty())
            edit->setText(file);
    });
    return button;
}

QWidget* Row(QWidget* parent, std::initializer_list<QWidget*> widgets)
{
    auto* row = new QWidget(parent);
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets)
        l->addWidget(w);
    l->addStretch();
    return row;
}

void Show(QComboBox* c, const QString& text)
{
    if (c->isEditable())
        c->setCurrentText(text);
    else
        c->setCurrentIndex(c->findText(text));
}

const QStringList& WindowNames()
{
    static const QStringList names = {"Rectangle", "Hunning", "Humming", "Blackman", "Blackman-Harris", "Bartlett"};
    return names;
}

} // namespace marlix
