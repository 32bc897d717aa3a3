import QtQuick
import QtWebEngine

// The bee drawn by its own local page. It takes no input: clicks and drags belong to the panel.
WebEngineView {
    id: view
    objectName: "beeWebView"
    signal failed(string reason)
    property url pageUrl

    url: pageUrl
    backgroundColor: "transparent"
    enabled: false
    settings.localContentCanAccessFileUrls: true
    settings.localContentCanAccessRemoteUrls: false
    settings.javascriptCanOpenWindows: false
    settings.focusOnNavigationEnabled: false
    settings.showScrollBars: false
    settings.pluginsEnabled: false

    onLoadingChanged: function(info) {
        if (info.status === WebEngineView.LoadFailedStatus)
            view.failed("load failed: " + info.errorString)
    }
    onRenderProcessTerminated: function(status, exitCode) {
        if (status !== WebEngineView.NormalTerminationStatus)
            view.failed("the page's renderer ended (" + exitCode + ")")
    }
    onNavigationRequested: function(request) {
        // The page never goes anywhere else.
        if (request.url !== view.pageUrl)
            request.action = WebEngineNavigationRequest.IgnoreRequest
    }
}
