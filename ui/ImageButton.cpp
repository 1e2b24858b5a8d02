#include "ui/ImageButton.h"

#include <QIcon>
#include <QMouseEvent>

QPixmap ImagePixmap(const QString& resource, const QSize& size) {
    return QIcon(resource).pixmap(size);
}

TImageButton::TImageButton(const QString& resource, const QSize& size, QWidget* parent) : QLabel(parent) {
    setPixmap(ImagePixmap(resource, size));
    setFixedSize(size);
    setCursor(Qt::PointingHandCursor);
}

void TImageButton::mousePressEvent(QMouseEvent* event) {
    FPressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TImageButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool click =
        FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    event->accept();
    if (click)
        emit clicked();
}
