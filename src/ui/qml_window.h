#pragma once

#include <QObject>
#include <QSize>
#include <QUrl>
#include <QVariantMap>

#include <memory>

class QQmlEngine;
class QQuickView;

namespace zapum {

// How one of the app's own windows (account panel, settings, walkthrough) looks when it opens.
struct QmlWindowSpec {
    QUrl source;
    QString title;
    QSize size;
    QSize minimumSize;
    bool floating = false;  // above other windows, like a panel
    QVariantMap initialProperties;
};

// A titled, closable window showing one QML item. It is built on the first present() and again
// after a close when `freshAfterClose` is set, so a reopened window can start from a clean view.
// Closing never ends the app.
class QmlWindow : public QObject {
    Q_OBJECT
public:
    QmlWindow(QQmlEngine &engine, QmlWindowSpec spec, bool freshAfterClose = false, QObject *parent = nullptr);
    ~QmlWindow() override;

    // Shows the window, or brings it to the front when it is already open.
    void present();
    Q_SLOT void close();
    bool isOpen() const;
    QQuickView *view() const { return m_view.get(); }

Q_SIGNALS:
    // The window was closed, by the user or by close().
    void closed();

private:
    void build();

    QQmlEngine &m_engine;
    QmlWindowSpec m_spec;
    bool m_freshAfterClose;
    std::unique_ptr<QQuickView> m_view;
    std::unique_ptr<QQuickView> m_retired;
};

}  // namespace zapum
