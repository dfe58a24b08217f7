#include "gui/player/properties.h"

#include "gui/player/conductor.h"
#include "platform/dsdec/dsdec.h"
#include "player/playlist.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QVBoxLayout>
#include <map>

namespace marlix {

namespace {

// Tag names shown with a caption of their own, in this order; others keep their names.
const std::vector<std::pair<std::string, QString>>& KnownTags()
{
    static const std::vector<std::pair<std::string, QString>> tags{
        {"title", QStringLiteral("タイトル")}, {"artist", QStringLiteral("アーティスト")},
        {"album", QStringLiteral("アルバム")}, {"album_artist", QStringLiteral("アルバムアーティスト")},
        {"track", QStringLiteral("トラック")}, {"date", QStringLiteral("年")},
        {"genre", QStringLiteral("ジャンル")}, {"comment", QStringLiteral("コメント")},
    };
    return tags;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

TFo_Properties::TFo_Properties(const std::string& entry, QWidget* parent)
    : QDialog(parent)
    , Form(new QFormLayout)
{
    setObjectName("Fo_Properties");
    setWindowTitle(QStringLiteral("プロパティ"));
    TPlayItem item{entry};
    const std::string location = item.Location();
    AddRow(QStringLiteral("名前"), QString::fromStdString(item.DisplayName()));
    AddFileRows(location);
    std::vector<std::pair<std::string, std::string>> info;
    if (dsdReadTags(location, info))
        AddStreamRows(info);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* v = new QVBoxLayout(this);
    v->addLayout(Form);
    v->addWidget(buttons);
    Form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    v->setSizeConstraint(QLayout::SetFixedSize);
}

QString TFo_Properties::Value(const QString& key) const
{
    for (const auto& [k, v] : Rows)
        if (k == key)
            return v;
    return {};
}

void TFo_Properties::AddRow(const QString& key, const QString& value)
{
    Rows.emplace_back(key, value);
    auto* label = new QLabel(value);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    label->setMinimumWidth(300);
    Form->addRow(key + QStringLiteral(" :"), label);
}

void TFo_Properties::AddFileRows(const std::string& location)
{
    const QString path = QString::fromStdString(location);
    if (path.contains(QStringLiteral("://"))) {
        AddRow(QStringLiteral("場所"), path);
        return;
    }
    const QFileInfo file(path);
    AddRow(QStringLiteral("ファイル名"), file.fileName());
    AddRow(QStringLiteral("場所"), file.absolutePath());
    AddRow(QStringLiteral("サイズ"), file.exists() ? QLocale(QLocale::C).toString(file.size()) + QStringLiteral(" バイト")
                                                   : QStringLiteral("ファイルが見つかりません"));
}

void TFo_Properties::AddStreamRows(const std::vector<std::pair<std::string, std::string>>& info)
{
    std::map<std::string, std::string> values;
    std::map<std::string, std::string> tags;
    for (const auto& [k, v] : info) {
        if (k.starts_with("tag:"))
            tags.emplace(Lower(k.substr(4)), v); // the first of a repeated tag wins
        else
            values[k] = v;
    }
    QString format = QString::fromStdString(values["format"]);
    if (!values["codec"].empty())
        format += QStringLiteral(" / ") + QString::fromStdString(values["codec"]);
    AddRow(QStringLiteral("形式"), format);
    if (!values["sample_rate"].empty())
        AddRow(QStringLiteral("サンプリング周波数"), QString::fromStdString(values["sample_rate"]) + QStringLiteral("Hz"));
    if (!values["channels"].empty())
        AddRow(QStringLiteral("チャンネル"), QString::fromStdString(values["channels"]));
    if (!values["bit_rate"].empty())
        AddRow(QStringLiteral("ビットレート"),
               QString::number(std::atoll(values["bit_rate"].c_str()) / 1000) + QStringLiteral("kbps"));
    if (!values["duration_ms"].empty())
        AddRow(QStringLiteral("長さ"), TimeText(std::atoll(values["duration_ms"].c_str())));
    for (const auto& [name, caption] : KnownTags()) {
        auto it = tags.find(name);
        if (it != tags.end()) {
            AddRow(caption, QString::fromStdString(it->second));
            tags.erase(it);
        }
    }
    for (const auto& [name, value] : tags)
        AddRow(QString::fromStdString(name), QString::fromStdString(value));
}

} // namespace marlix
