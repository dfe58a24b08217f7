#pragma once
#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

namespace marlix {

// The libraries this build runs on, with the versions they report at run time; a
// module that cannot be loaded is named as missing.
std::vector<std::pair<QString, QString>> ComponentVersions();

// The version dialog: title, the components with their versions, the maker, and "OK".
class TFo_About : public QDialog {
public:
    explicit TFo_About(QWidget* parent = nullptr);
};

} // namespace marlix
