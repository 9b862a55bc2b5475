#include "channelcounters.h"

#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

namespace {

// A field that changes with every arrival paints what lies beneath it itself. A field is not
// opaque (its frame has round corners), so for each of its repaints Qt would first paint every
// widget beneath it again, for a counter the whole group box with its frame and title. The
// field keeps a picture of what its parents paint where it is, made the way Qt paints them, and
// draws it before its own face; while the picture is out of date, Qt paints them as usual.
class PaintedBeneath : public QObject {
public:
    explicit PaintedBeneath(QWidget *field)
        : QObject(field)
        , m_field(field)
    {
        m_refresh.setSingleShot(true);
        connect(&m_refresh, &QTimer::timeout, this, [this] { takePicture(); });
        for (QWidget *widget = field; widget; widget = widget->parentWidget()) {
            widget->installEventFilter(this);
            if (widget != field && fillsBackground(widget))
                break;
        }
        m_refresh.start(0);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Paint:
            if (watched == m_field && m_field->testAttribute(Qt::WA_OpaquePaintEvent))
                QPainter(m_field).drawPixmap(0, 0, m_beneath);
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::ParentChange:
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::FontChange:
        case QEvent::EnabledChange:
        case QEvent::LayoutDirectionChange:
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
        case QEvent::ScreenChangeInternal:
            // Whatever changes how the parents look beneath the field: Qt paints them again
            // until a new picture is taken.
            m_field->setAttribute(Qt::WA_OpaquePaintEvent, false);
            m_refresh.start(0);
            break;
        default:
            break;
        }
        return false;
    }

private:
    static bool fillsBackground(const QWidget *widget)
    {
        return widget->isWindow() || widget->autoFillBackground();
    }

    void takePicture()
    {
        if (!m_field->isVisible())
            return;
        // The parents from the first that fills its background, each drawn alone as Qt draws
        // it beneath the field.
        QList<QWidget *> beneath;
        for (QWidget *widget = m_field->parentWidget(); widget; widget = widget->parentWidget()) {
            beneath.prepend(widget);
            if (fillsBackground(widget))
                break;
        }
        const qreal ratio = m_field->devicePixelRatioF();
        QPixmap picture(m_field->size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        for (QWidget *widget : beneath) {
            const QPoint at = m_field->mapTo(widget, QPoint());
            // The region's corner lands where the painter is told, here the picture's.
            widget->render(&painter, QPoint(), QRegion(QRect(at, m_field->size())),
                           QWidget::DrawWindowBackground);
        }
        painter.end();
        m_beneath = picture;
        m_field->setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QWidget *m_field;
    QPixmap m_beneath;
    QTimer m_refresh;
};

} // namespace

ChannelCounters::ChannelCounters(QLineEdit *sentDisplay, QLineEdit *receivedDisplay,
                                 TrafficView &view)
    : m_sentDisplay(sentDisplay)
    , m_receivedDisplay(receivedDisplay)
    , m_view(view)
{
    // Records, not inputs; still focusable and selectable for copying and screen readers.
    m_sentDisplay->setReadOnly(true);
    m_receivedDisplay->setReadOnly(true);
    new PaintedBeneath(m_sentDisplay);
    new PaintedBeneath(m_receivedDisplay);
    m_view.setCounters([this](const ChannelCounts &counts) { show(counts); });
    show({});
}

void ChannelCounters::countsChanged(const ChannelCounts &counts)
{
    m_view.countsChanged(counts);
}

void ChannelCounters::show(const ChannelCounts &counts)
{
    // A field set to what it shows would still be repainted.
    if (counts.sent != m_shown.sent)
        m_sentDisplay->setText(QString::number(counts.sent));
    if (counts.received != m_shown.received)
        m_receivedDisplay->setText(QString::number(counts.received));
    m_shown = counts;
}
