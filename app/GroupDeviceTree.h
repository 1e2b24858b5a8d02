#pragma once

#include <QIdentityProxyModel>
#include <QTreeView>

#include <functional>

class TGroup;
class TDevice;

// Shows each device node's live state as its state image (on-line, no status yet, channel
// fault, not answering, off-line) and, as its tool tip, the state in words with its time.
class TTreeStateImages : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit TTreeStateImages(QObject* parent = nullptr);
    QVariant data(const QModelIndex& index, int role) const override;
};

// The group/device tree of the main window. Only device nodes can be dragged; a drop hands the
// device and the node under the mouse to the owner, and the tree itself never moves nodes.
class TGroupDeviceTree : public QTreeView {
    Q_OBJECT
public:
    explicit TGroupDeviceTree(QWidget* parent = nullptr);

    // The model object of a node (a TGroup or a TDevice), nullptr for none.
    static QObject* NodeObject(const QModelIndex& index);
    // The selected node's object, nullptr when nothing is selected.
    QObject* SelectedObject() const;
    // The object of the node at a point in viewport coordinates.
    QObject* ObjectAt(const QPoint& viewportPos) const;

signals:
    // A device node was dropped on `target` (a group or device node's object).
    void DeviceDropped(TDevice* device, QObject* target);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool SelectionIsDevice() const;
};
