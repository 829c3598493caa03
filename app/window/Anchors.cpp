// app/window/Anchors.cpp — anchoring of child widgets.
#include "app/window/Anchors.h"

#include <QEvent>
#include <QWidget>

namespace tw {

TAnchors::TAnchors(QWidget* parent, QSize layoutSize)
    : QObject(parent), FParent(parent), FLayoutSize(layoutSize) {
    parent->installEventFilter(this);
}

void TAnchors::Place(QWidget* child, const QRect& geometry, unsigned anchors) {
    FItems.push_back({child, geometry, anchors});
    // The parent may not have its laid-out size yet; the next resize applies.
    child->setGeometry(geometry);
}

// One axis: the start and length of the child for a parent of length `now`.
static void Axis(int start, int length, int laid, int now, bool near, bool far, int& outStart,
                 int& outLength) {
    const int grow = now - laid;
    outLength = length;
    outStart = start;
    if (near && far)
        outLength = length + grow;
    else if (far)
        outStart = start + grow;
    else if (!near)
        outStart = start + grow / 2;
}

QRect TAnchors::GeometryFor(const QWidget* child, QSize size) const {
    for (const TItem& item : FItems) {
        if (item.Child != child) continue;
        int x, y, w, h;
        Axis(item.Laid.x(), item.Laid.width(), FLayoutSize.width(), size.width(),
             item.Anchors & akLeft, item.Anchors & akRight, x, w);
        Axis(item.Laid.y(), item.Laid.height(), FLayoutSize.height(), size.height(),
             item.Anchors & akTop, item.Anchors & akBottom, y, h);
        return QRect(x, y, w < 0 ? 0 : w, h < 0 ? 0 : h);
    }
    return child->geometry();
}

void TAnchors::Apply() {
    for (const TItem& item : FItems)
        item.Child->setGeometry(GeometryFor(item.Child, FParent->size()));
}

bool TAnchors::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FParent && event->type() == QEvent::Resize) Apply();
    return QObject::eventFilter(watched, event);
}

}  // namespace tw
