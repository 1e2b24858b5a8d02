#pragma once

#include <QLabel>

// A picture that acts as a button: hand cursor, clicked() on a left click released over it.
class TImageButton : public QLabel {
    Q_OBJECT
public:
    // `resource` is an image path (an SVG is rendered at `size`).
    TImageButton(const QString& resource, const QSize& size, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool FPressed = false;
};

// The picture of an image file at a size, for labels that show a fixed image.
QPixmap ImagePixmap(const QString& resource, const QSize& size);
