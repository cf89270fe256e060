#include "Help.h"
#include "CustomGeodrellDialogs.h"

#include <QCloseEvent>
#include <QFont>
#include <QRegularExpression>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

#include "StravexIcon.h"

namespace stravex::gui {

namespace {

const char* const kHelpText = R"(STRAVEX
Landscape connectivity along straight and least-cost paths

1. Function
Stravex relates landscape structure to genetic distances or to animal movements. Between two sample points it builds a path, scans the environmental maps along that path and reports what the path crosses: counts and areas of binary and count maps, sums, means and standard deviations of quantitative maps, the mean elevation, slope and convexity of one topography map, and for least-cost paths their mean length and cost. The reports are tab-separated text files, ready for a statistics package, where the path statistics can be related to the genetic distances (population matrix) or to the movements (location sequence).
Maps are IDRISI rasters (a ".rdc" or ".doc" documentation file beside a ".rst" or ".img" image file). With a file "idrisi.env" beside the program the classic ".doc"/".img" names are used.
The same analyses run without the window through the command line program stravex-cli.

2. Operations
Choose the settings from the top of the "Input" page down, then press Compute.
a) Data structure: "Population matrix" for sampled populations with a genetic distance matrix, "Location sequence" for dated locations of tracked individuals.
b) Environmental descriptors: load binary and count maps, quantitative maps and one topography map (DEM) with the "..." buttons beside each list (several maps can be chosen at once; "..." replaces the list, "+" adds to it, and the list's right-click menu removes one map or clears the list). A map's file is shown when the mouse rests on it. Every map must be stored in binary format and overlay the first map loaded. A map list saved with Program > "Save eco. map list..." can be loaded again with Program > "Open eco. map list...".
c) Data: choose the data file with the "..." button beside "Data:". A location sequence is read at once. The small button beside it shows the data: the sample points as a "Patch map" (when binary maps are loaded) or one track per individual.
d) Connectivity: choose the algorithm. For least-cost paths also choose the friction map with its "..." button, the number of paths, the seed, the criterion to minimise, the friction and length weights and, if wanted, a corridor map name (double-click the box for a default name).
e) Project name: the prefix of every report; double-click it for the default name of the algorithm.
f) Parameters page: Delaunay triangulation, pair distance threshold and, with a topography map and least-cost paths, the direction of movement. For a location sequence: the shortest segment kept.
g) Press Compute. The progress bar shows "pair k of N" and the time left; Cancel stops it after the current pair or segment. At the end a status line says what was done ("Done: 28 pairs in 1.2 s — report ..." or "Cancelled after 17 of 28 pairs — the report holds 17 rows"), and "View map" shows a corridor map the run wrote. When the report already exists the window asks first: Replace it, Resume it (only the missing rows are computed; offered when the report and its journal match the settings and inputs), or Cancel. Reports are written in the current working folder, which the program remembers from one session to the next.
h) The "Log" page records the settings of every run and the data read; it can be edited and copied.
i) For a location sequence, the "Bootstraps" page sets the number of replicates; "Bootstrap it!" runs the random-walk bootstrap.
j) Map view: right-click a map box and choose "View map". The map is drawn over a background map (the friction map in grey by default), with a choice of stretch and palette, the sample points' numbers, zoom with the mouse wheel, pan by dragging and "Fit"; the status bar gives the coordinates, row, column and values under the mouse. Its right-click menu saves the picture (PNG, SVG) or the map (GeoTIFF, IDRISI) and shows or adds metadata.
k) Settings: every setting, the window's size and the last folders are kept between sessions. Program > "Save settings as..." writes them to a readable INI file for a study; Program > "Open settings..." applies one.

3. Algorithm
Fixed-width strip: a straight band of cells of the given odd width joins the two points; every map is read along the band and missing cells are left out.
Ratio strip: a straight band whose number of cell lines follows its length divided by the given length:width ratio.
Least-cost path: the given number of paths is searched over the friction map. Each path is the cheapest of 500 random candidate paths drawn by a Monte-Carlo search (seeded from the seed and the pair, so runs repeat exactly). The cost of a candidate is the friction weight times its friction criterion (friction sum, mean or standard deviation along the path, as chosen under "Minimise") plus the length weight times its length. With a topography map the paths can be restricted to uphill or downhill movement within an elevation tolerance. A corridor map counts, for every cell, how many paths crossed it (one map for the run or one per pair).
Delaunay: the sample points are triangulated; the report can carry a column telling whether a pair is linked in the triangulation, or the analysis can be restricted to linked pairs.
Results: one report line per pair (population matrix, "-MatrixAnalysis.txt"), per segment (location sequence, "-SequenceAnalysis.txt") or per walk step (bootstrap, "-Bootstraps.txt"). Relate the path statistics to the genetic distances or the movements with a statistics package (for example with Mantel tests or regressions on distance matrices).

4. Genetic distance file structure
A plain text file with four sections in this order, each opened by its header line (any letter case):
[sample size]     then a line holding the number of sample points n
[coordinates]     then n lines "X Y" in map units (blank or tab separated)
[genetic distance] then n lines: line i holds the distances from point i to points 1 .. i (the lower triangle with its diagonal; a full square matrix is also accepted)
[significance]    optional, the same layout as the genetic distances
Numbers use "." as decimal separator. Do not leave an empty line between a section's data and the next header. Example with three populations:
[sample size]
3
[coordinates]
512300.5 4873100
514250 4871800.25
511800 4869950
[genetic distance]
0
0.12 0
0.31 0.22 0

5. Batch mode
A population matrix analysis over binary and count maps can run unattended. Set up the window, then choose Program > "Batch command...": after you save the map list, the Log page shows the command line that reproduces the current settings. Paste it into a batch file or a shell script:
stravex x MAPLIST LOG DATA NAME [6 ... 21]
or run the same line with stravex-cli instead of stravex. Positions (position 0 is the program):
 1  x (any case): batch mode
 2  map-list file, one map per line; its folder becomes the working folder
 3  file that receives the Log page after the run
 4  population data file
 5  project name, or "none" for the default name
 6  algorithm: 0 fixed-width strip, 1 ratio strip, 2 least-cost path
 7  fitting function (0 linear, 1 logistic regression; reserved)
 8  stepwise (1 = on; reserved)
 9  friction map (least-cost paths)
10  path width, length:width ratio or number of paths (made odd, 1..99999)
11  frequency threshold 0..100 (reserved)
12  significant distances only (1 = on; reserved)
13  significance threshold 0..100 (reserved)
14  include geographic distance (1 = on; reserved)
15  not read (filler)
16  replicates (reserved)
17  iterations (reserved)
18  connectivity dataset (1 = on; reserved)
19  ecological distance matrix (1 = on; reserved)
20  echo the genetic matrices to the log (1 = on)
21  echo the sample points to the log (1 = on)
The line may end after any position from 5 on; the later positions keep their defaults. For flags 1 means on and any other number off. With fewer than five arguments after the program name nothing is done. The program ends when the log is saved; when the run fails the error is shown and the window stays open.
At start-up a first argument other than "call" with a folder as second argument makes that folder the working folder.

6. Credits
Stravex is developed by the Stravex team. IDRISI is a trademark of Clark Labs, Clark University. Charts are drawn with Qt Charts.

7. History
2026-09  stravex-cli: population matrix, location sequence and bootstrap analyses from the command line
2026-12  First desktop window: settings pages, log, data view charts, map windows, help and about
)";

QString ToHtml(const QString& text) {
  static const QRegularExpression title(QStringLiteral("^\\d+\\. "));
  QString html = QStringLiteral("<div style=\"white-space: pre-wrap\">");
  const QStringList lines = text.split(QLatin1Char('\n'));
  for (int i = 0; i < lines.size(); ++i) {
    const QString esc = lines[i].toHtmlEscaped();
    if (i == 0 || title.match(lines[i]).hasMatch())
      html += QStringLiteral("<b><u>") + esc + QStringLiteral("</u></b>");
    else
      html += esc;
    html += QStringLiteral("<br/>");
  }
  return html + QStringLiteral("</div>");
}

} // namespace

QString HelpText() { return QString::fromUtf8(kHelpText); }

TfHelp::TfHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Stravex Help"));
  setWindowIcon(StravexIcon());
  // The help window must not keep the program alive once the main window has closed.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(551, 734);

  mmHelp = new QTextEdit(this);
  mmHelp->setReadOnly(true);
  mmHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont f(QStringLiteral("Sans Serif"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSize(8);
  mmHelp->setFont(f);
  mmHelp->setHtml(ToHtml(HelpText()));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(mmHelp);
}

void TfHelp::closeEvent(QCloseEvent* e) {
  e->ignore();
  hide();
}

void TfHelp::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (fShown) return;
  fShown = true;
  CentreOnScreen(this);
}

} // namespace stravex::gui
