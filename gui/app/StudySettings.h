#pragma once
// The window's settings as INI keys with readable names and values
// ([Maps] Binary=..., [Paths] Algorithm=Least-cost path). The named study
// files of "Save settings as..." and the settings remembered between sessions
// share these keys. QtCore only: tested without widgets.
#include "analysis/AnalysisSettings.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <array>

namespace stravex::gui {

// The items of the cell-rule lists, in tCellRule order.
inline constexpr std::array<const char*, 2> kCellRuleNames = {"Cell that contains the point",
                                                              "Rounded (earlier versions)"};

// What the window holds beside the settings record: the map files of each
// role and the hidden check boxes that no run reads.
struct tWindowChoices {
  QStringList BinaryMaps, QuantitativeMaps;
  QString TopographyMap;
  bool KeepTemporaryMaps = false, FitModel = false, FrictionMapOutput = false,
       JackKnifeResults = false, JackKnife = false;
  int Partitions = 10;
  bool operator==(const tWindowChoices&) const = default;
};

// Every key, whatever its value. NameOnCommandLine belongs to batch lines
// and is not written.
void WriteStudySettings(QSettings& ini, const TAnalysisSettings& s, const tWindowChoices& c);

// A key that is present and valid replaces its value in s or c; an absent key
// keeps the value they hold; a bad value keeps it too and adds a message that
// names the file, the key and the value. Relative file names are resolved from
// the folder of the file. Whether the maps load is the window's business.
// A file QSettings cannot parse changes nothing and gives one message.
QStringList ReadStudySettings(QSettings& ini, TAnalysisSettings& s, tWindowChoices& c);

} // namespace stravex::gui
