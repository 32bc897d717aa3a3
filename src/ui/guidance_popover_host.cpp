#include "ui/guidance_popover_host.h"

#include "companion/bee_view_model.h"
#include "foundation/logging.h"
#include "ui/guidance_popover_model.h"
#include "ui/tinted_icon_provider.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include <algorithm>

namespace zapum {

QRectF popoverFrame(QSizeF size, const QRectF &bee, const QRectF &visibleFrame)
{
    double x = bee.center().x() - size.width() / 2.0;
    double y = bee.top() - kPopoverGap - size.height();
    if (y < visibleFrame.top())
        y = bee.bottom() + kPopoverGap;
    x = std::max(visibleFrame.left(), std::min(x, visibleFrame.right() - size.width()));
    y = std::max(visibleFrame.top(), std::min(y, visibleFrame.bottom() - size.height()));
    return {x, y, size.width(), size.height()};
}

GuidancePopoverHost::GuidancePopoverHost(BeeViewModel &bee, GuidancePopoverModel &model, QQmlEngine &engine,
                                         std::function<QRectF()> beeFrame, QObject *parent)
    : QObject(parent), m_bee(bee), m_model(model), m_engine(engine), m_beeFrame(std::move(beeFrame))
{
    connect(&m_bee, &BeeViewModel::popoverOpenChanged, this, [this] {
        if (m_bee.popoverOpen())
            open();
        else
            close();
    });
}

GuidancePopoverHost::~GuidancePopoverHost() = default;

void GuidancePopoverHost::open()
{
    if (!m_window) {
        TintedIconProvider::installOn(m_engine);
        m_window = std::make_unique<QQuickView>(&m_engine, nullptr);
        m_window->setTitle(QStringLiteral("ZaPum guidance"));
        m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
        m_window->setResizeMode(QQuickView::SizeViewToRootObject);
        m_window->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue<QObject *>(&m_model)},
                                        {QStringLiteral("bee"), QVariant::fromValue<QObject *>(&m_bee)}});
        m_window->setSource(QUrl(QStringLiteral("qrc:/zapum/ui/GuidancePopover.qml")));
        for (const QQmlError &error : m_window->errors())
            qCWarning(lcUi) << "guidance popover:" << error.toString();
        // A popover closes when the user turns elsewhere.
        m_leaveGrace.setSingleShot(true);
        m_leaveGrace.setInterval(300);
        connect(&m_leaveGrace, &QTimer::timeout, this, [this] {
            if (m_window->isActive() || !m_bee.popoverOpen())
                return;
            qCInfo(lcUi) << "guidance popover closes: another window is active";
            m_bee.setPopoverOpen(false);
        });
        connect(m_window.get(), &QWindow::activeChanged, this, [this] {
            if (m_window->isActive()) {
                m_wasActive = true;
                m_leaveGrace.stop();
            } else if (m_wasActive && m_bee.popoverOpen()) {
                m_leaveGrace.start();
            }
        });
        // The checklist title as drawn is logged while the popover is up, so that whoever reads the
        // log (a person or an end-to-end check) knows which document the user is looking at.
        if (QQuickItem *root = m_window->rootObject())
            m_guidanceTitle = root->findChild<QQuickItem *>(QStringLiteral("guidanceTitle"));
        // Queued, so that the title's binding has been brought up to date when it is read.
        connect(&m_model, &GuidancePopoverModel::guidanceChanged, this, &GuidancePopoverHost::reportShownGuidance,
                Qt::QueuedConnection);
        connect(m_window.get(), &QWindow::heightChanged, this, &GuidancePopoverHost::place);
        connect(m_window.get(), &QWindow::widthChanged, this, &GuidancePopoverHost::place);
    }
    if (QQuickItem *root = m_window->rootObject())
        QMetaObject::invokeMethod(root, "prepareToShow");
    m_wasActive = false;
    place();
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    m_reportedTitle.clear();
    reportShownGuidance();
}

void GuidancePopoverHost::reportShownGuidance()
{
    if (!m_window || !m_window->isVisible() || !m_guidanceTitle)
        return;
    const QString title = m_guidanceTitle->property("text").toString();
    if (title == m_reportedTitle)
        return;
    m_reportedTitle = title;
    qCInfo(lcUi).noquote() << "guidance popover shows:" << title;
}

void GuidancePopoverHost::close()
{
    if (m_window)
        m_window->hide();
    m_wasActive = false;
    m_leaveGrace.stop();
}

void GuidancePopoverHost::place()
{
    if (!m_window)
        return;
    const QRectF bee = m_beeFrame ? m_beeFrame() : QRectF();
    QScreen *screen = QGuiApplication::screenAt(bee.center().toPoint());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRectF frame = popoverFrame(QSizeF(m_window->size()), bee, QRectF(screen->availableGeometry()));
    m_window->setPosition(frame.topLeft().toPoint());
}

}  // namespace zapum
