#pragma once
// Base of the map windows.
#include <QString>
#include <QStringList>
#include <QWidget>

namespace stravex::gui {

class tGraphMapPopUp;

// Base of the map windows: the transparency the map pop-up menu sets, and the
// operations of its other items, which a window showing a map provides.
class tMapWindowBase : public QWidget {
  Q_OBJECT
public:
  using QWidget::QWidget;
  // n % transparency: opacity 255 - Round(n / 100 * 255) with blending on; at
  // 100 % the opacity is 0 with blending off, which shows the window opaque.
  // The opacity is the window's own (a compositor shows it).
  void SetTransparency(int percent);
  int AlphaBlendValue() const { return fAlphaBlendValue; }
  bool AlphaBlend() const { return fAlphaBlend; }
  // Its pop-up menu, made at the first right click.
  tGraphMapPopUp& PopUp();

  // Whether there is a map to save and describe: enables the menu's items.
  virtual bool HasMap() const { return false; }
  // The view as a picture (".png" or ".svg"); the map shown as a map
  // (".tif"/".tiff" GeoTIFF, ".rst"/".rdc" IDRISI). EInOutError "Unsupported
  // format" for another extension, before anything is written.
  virtual void SaveImageFile(const QString& fileName);
  virtual void SaveDataFile(const QString& fileName);
  // The map's documentation, then the lines the user added.
  virtual QStringList MetadataLines() const { return fMetadata; }
  void AddMetadataLine(const QString& line) { fMetadata.append(line); }

protected:
  QStringList fMetadata; // the lines the user added

private:
  int fAlphaBlendValue = 255;
  bool fAlphaBlend = false;
  tGraphMapPopUp* fPopUp = nullptr; // a child: goes with the window
};

} // namespace stravex::gui
