// app/window/Anchors.h — anchoring of child widgets placed at fixed
// positions: an anchored side keeps its distance to the parent's edge when
// the parent is resized.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace tw {

/// Sides a child is anchored to (combine with |).
enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
constexpr unsigned akLeftTop = akLeft | akTop;
constexpr unsigned akAll = akLeft | akTop | akRight | akBottom;

/// Watches one parent widget; every child placed with Place keeps its
/// anchored distances on each resize of the parent. A side pair that is not
/// anchored (neither left nor right, say) keeps the child centred as placed.
/// Main thread; the object lives as a child of the parent and goes with it.
class TAnchors : public QObject {
  public:
    /// layoutSize: the parent's size the positions were given for.
    TAnchors(QWidget* parent, QSize layoutSize);
    /// Puts child at geometry (in parent coordinates, the parent at layoutSize)
    /// and anchors it.
    void Place(QWidget* child, const QRect& geometry, unsigned anchors = akLeftTop);
    /// The child's geometry for a parent of the given size.
    QRect GeometryFor(const QWidget* child, QSize parentSize) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct TItem {
        QWidget* Child;
        QRect Laid;
        unsigned Anchors;
    };
    void Apply();
    QWidget* FParent;
    QSize FLayoutSize;
    std::vector<TItem> FItems;
};

}  // namespace tw
