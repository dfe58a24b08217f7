#pragma once
#include "online/genrelist.h"
#include "online/searchconditions.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace marlix {

class TPendingAdditions;

// The search dialog "検索": the conditions of a library search, in mode 0 (search),
// 1 (new favourite) or 2 (edit a favourite). OK builds the query. Opening it fetches the
// library's genre list, which the genre field takes when it arrives.
class TFo_Search : public QDialog {
    Q_OBJECT
public:
    enum class TMode { Search = 0, NewFavourite = 1, EditFavourite = 2 };
    // `programFolder` holds "genres.txt"; `favouritesFolder` the ".mxp" files; `library`
    // serves the genre list (none is fetched when its host is empty).
    TFo_Search(TMode mode, std::string programFolder, std::string favouritesFolder, QWidget* parent = nullptr,
               TLibraryEndpoints library = TLibraryEndpoints::FromEnvironment());

    TSearchConditions Conditions() const;
    void SetConditions(const TSearchConditions& c);
    // Sets the controls from the file, then runs the OK step so the query is built.
    void LoadFavourite(const std::string& file);
    [[nodiscard]] bool SaveFavourite(const std::string& file) const;
    // The OK step: checks the name (favourite modes) and the targets, builds the query.
    // False keeps the dialog open.
    bool OkStep();
    void Ti_CheckTimer();
    // The genre list fetched when the dialog opened has arrived or failed.
    bool GenresChecked() const { return Genres.Finished(); }

    QString FavouriteName() const;
    void SetFavouriteName(const QString& name); // mode 2: also the current name
    const std::string& Query() const { return QueryText; }
    int Open() const { return OpenTargets; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Warn(const QString& text);
    void FillGenres();

    TMode Mode;
    std::string Folder;
    std::string FavouritesFolder;
    TGenreFetch Genres;
    bool GenresTaken = false;
    QString CurrentName;
    std::string QueryText;
    int OpenTargets = 3;
    QLabel* La_Name;
    QLineEdit* Ed_Name;
    QFrame* Bevel;
    QLineEdit* Ed_Artist;
    QLineEdit* Ed_Title;
    QComboBox* Ed_Genre;
    QRadioButton* Ra_Random;
    QRadioButton* Ra_New;
    QRadioButton* Ra_Rank;
    QComboBox* Co_Rank;
    QSpinBox* SE_Max;
    QCheckBox* Ch_Tonkara;
    QCheckBox* Ch_Web;
    QComboBox* Co_Target;
    QTimer* Ti_Check;
};

// The lines of "genres.txt", sorted, after an empty first item.
QStringList GenreItems(const std::string& programFolder);

// Searches with the hourglass cursor, replacing the result file; a failure shows the
// failure message. Then the results go to the pending additions.
bool RunSearch(QWidget* parent, const TLibraryEndpoints& endpoints, const std::string& query,
               const std::string& resultFile, TPendingAdditions& pending);

} // namespace marlix
