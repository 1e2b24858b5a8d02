#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <array>
#include <vector>

class QPainter;
class QTimer;
class TCellGrid;
class TGroups;

// The mute matrix: one row per amplifier of the registry shown (groups in registry order,
// devices in member order) with its short name and the four flags that decide whether its
// channels are muted: its own channel A and B mutes, its group's mute and the global mute.
// A double click inverts the flag of the cell through the model's setters; the devices' periodic
// reconciliation takes it to the amplifiers. The grid is rebuilt from the model every 50 ms, also
// while hidden.
//
// Every flag cell says its state in a word as well as a colour ("MUTE" on dark red, "open" on
// green), and a channel whose own flag is open while its group or the global mute holds it is
// hatched and reads "held". The name column carries each amplifier's state image, as in the
// tree.
class TMuteFrame : public QWidget {
    Q_OBJECT
public:
    static constexpr int RefreshIntervalMs = 50;

    explicit TMuteFrame(QWidget* owner = nullptr);

    // The registry whose devices the matrix shows (none at first), shown at once.
    void SetRegistry(TGroups* registry);
    TGroups* Registry() const;

    TCellGrid* MuteGrid;
    QTimer* Timer1;

    // Rewrites every cell from the registry. Cells whose text is unchanged are left
    // alone, so a rebuild of an unchanged project allocates nothing and repaints nothing.
    void RefreshGrid();

    void Timer1Timer();
    // Paints a device's flag cell, and the line below it where its block continues; leaves the
    // header row and the name column to the grid.
    bool MuteGridDrawCell(QPainter& painter, int col, int row, const QRect& rect);
    void MuteGridDblClick();

private:
    // What a device row was last built from. The texts share the model's data, so an unchanged
    // name is recognised by its data pointer without reading the characters.
    struct TRowSource {
        QString Name;
        QString GroupName;
        int Group = -1; // position of the group in the registry
        int Flags = -1; // the four flags as bits, -1 before the first build
        int Held = 0;   // channel bits muted by the group or global mute, not by their own flag
        int State = -1; // the device's live state
    };
    void SetFlagCell(int col, int row, bool on, const QString& groupName);
    // The picture of a flag cell: 0 open, 1 muted by its flag, 2 open but held by the group or
    // global mute. Drawn once per cell size: a global mute repaints every channel cell in view.
    const QPixmap& CellPicture(int kind, const QSize& size);

    // Per grid row (row 0 unused). The "Group" column joins the cells of one group only, also
    // when two groups share a short name.
    std::vector<TRowSource> FRows;
    std::array<QPixmap, 3> FCellPictures;
    QPointer<TGroups> FRegistry;
};
