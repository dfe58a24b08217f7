#pragma once
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QFormLayout;

namespace marlix {

// The properties of one playlist entry: its name, folder, size, format, length and tags,
// read through the decoder module without playing the file.
class TFo_Properties : public QDialog {
public:
    // `entry` is a playlist entry string: a location, or a title, "*" and a location.
    explicit TFo_Properties(const std::string& entry, QWidget* parent = nullptr);

    // The text shown for `key` ("ファイル名", "タイトル", …); empty when there is no such row.
    QString Value(const QString& key) const;

private:
    void AddRow(const QString& key, const QString& value);
    void AddFileRows(const std::string& location);
    void AddStreamRows(const std::vector<std::pair<std::string, std::string>>& info);

    QFormLayout* Form;
    std::vector<std::pair<QString, QString>> Rows;
};

} // namespace marlix
