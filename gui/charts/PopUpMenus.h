#pragma once
// The pop-up menus of the chart windows and of the map windows; each window
// owns its own.
#include "GraphicOps.h"
#include "MapWindowBase.h"

#include <QAction>
#include <QList>
#include <QMenu>
#include <QPointer>

namespace stravex::gui {

// The menu every chart opens on a right click; the chart under the mouse
// becomes its target.
class tGraphPopUp : public QMenu {
  Q_OBJECT
public:
  // Owned by the chart it serves (its first target).
  explicit tGraphPopUp(tGraphicChart* owner);
  void SetTarget(tGraphicChart* chart);
  tGraphicChart* Target() const { return fTarget; }
  // Sets the target, enables the items for it and runs the menu.
  void PopupFor(tGraphicChart* chart, const QPoint& globalPos);

  QAction* SaveImageItem;
  QAction* SaveDataItem;
  QAction* ViewMetadataItem;
  QAction* AddMetadataItem;
  QAction* CloseGraphItem;

  // "&Close graph" on the target: its page removed, its window closed, or the chart freed.
  void CloseGraphClick();

private:
  void SaveImageClick();
  void SaveDataClick();
  void ViewMetadataClick();
  void AddMetadataClick();

  QPointer<tGraphicChart> fTarget;
};

// The menu of a map window: saving the view or the map, its metadata, and
// the window's transparency. The items other than transparency need a target
// showing a map.
class tGraphMapPopUp : public QMenu {
  Q_OBJECT
public:
  // Owned by the map window it serves (its first target).
  explicit tGraphMapPopUp(tMapWindowBase* owner);
  void SetTarget(tMapWindowBase* w);
  tMapWindowBase* Target() const { return fTarget; }
  void PopupFor(tMapWindowBase* w, const QPoint& globalPos);

  QAction* SaveImageItem;
  QAction* SaveDataItem;
  QAction* ViewMetadataItem;
  QAction* AddMetadataItem;
  QMenu* TransparencyMenu;
  // "&0%", "&10%", ... "&100%".
  QList<QAction*> TransparencyItems;

private:
  void SaveImageClick();
  void SaveDataClick();
  void ViewMetadataClick();
  void AddMetadataClick();

  QPointer<tMapWindowBase> fTarget;
};

} // namespace stravex::gui
