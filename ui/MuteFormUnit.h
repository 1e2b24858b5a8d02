#pragma once

#include <QWidget>

class QTimer;
class TGroups;
class TMuteFrame;

// The stay-on-top "Mute" window around the mute matrix. It exists for the whole run and is only
// shown and hidden. Every 100 ms, also while hidden, and whenever the matrix gains or loses
// rows, its client area takes the size of the grid, so that it grows and shrinks with the
// project; on a screen too small for the whole grid it keeps to the screen and the grid scrolls
// under its fixed header row and name column.
class TMuteForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int FitIntervalMs = 100;

    explicit TMuteForm(QWidget* parent = nullptr);

    TMuteFrame* MuteFrame = nullptr;
    QTimer* Timer1;

    // The registry the matrix shows.
    void SetRegistry(TGroups* registry);

    void FormCreate();
    void FormShow();
    void FormActivate();
    void Timer1Timer();

    void setVisible(bool visible) override;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Fits the grid to its cells and the window to the grid.
    void FitToGrid();
    // The largest client area the window can have on its screen.
    QSize MaxClientSize() const;

    bool FCentred = false;
};
