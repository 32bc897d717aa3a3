#include "ui/qml_window.h"

#include "foundation/logging.h"
#include "ui/tinted_icon_provider.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

namespace zapum {

QmlWindow::QmlWindow(QQmlEngine &engine, QmlWindowSpec spec, bool freshAfterClose, QObject *parent)
    : QObject(parent), m_engine(engine), m_spec(std::move(spec)), m_freshAfterClose(freshAfterClose)
{
}

QmlWindow::~QmlWindow()
{
    // The view hides as it goes; that is no close to report from a half-destroyed owner.
    if (m_view)
        m_view->disconnect(this);
}

void QmlWindow::build()
{
    m_retired.reset();
    TintedIconProvider::installOn(m_engine);
    m_view = std::make_unique<QQuickView>(&m_engine, nullptr);
    m_view->setTitle(m_spec.title);
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (m_spec.floating)
        flags |= Qt::WindowStaysOnTopHint;
    m_view->setFlags(flags);
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->setInitialProperties(m_spec.initialProperties);
    m_view->setSource(m_spec.source);
    for (const QQmlError &error : m_view->errors())
        qCWarning(lcUi) << m_spec.title << error.toString();
    m_view->resize(m_spec.size);
    if (m_spec.minimumSize.isValid())
        m_view->setMinimumSize(m_spec.minimumSize);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_view->setPosition(area.center() - QPoint(m_spec.size.width() / 2, m_spec.size.height() / 2));
    }
    // A root item that offers its own close button says so with closeRequested().
    QQuickItem *root = m_view->rootObject();
    if (root && root->metaObject()->indexOfSignal("closeRequested()") >= 0)
        connect(root, SIGNAL(closeRequested()), this, SLOT(close()));
    connect(m_view.get(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (visible)
            return;
        Q_EMIT closed();
        // Not deleted here, inside its own signal: kept until the next build or our own end.
        if (m_freshAfterClose && m_view)
            m_retired = std::move(m_view);
    });
}

void QmlWindow::present()
{
    if (!m_view)
        build();
    m_view->show();
    m_view->raise();
    m_view->requestActivate();
}

void QmlWindow::close()
{
    if (m_view && m_view->isVisible())
        m_view->close();
}

bool QmlWindow::isOpen() const
{
    return m_view && m_view->isVisible();
}

}  // namespace zapum
