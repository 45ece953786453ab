import QtQuick
import QtQuick.Controls
import QtQuick.Templates as T

ApplicationWindow {
    id: app

    property real scf: 1
    property int gradiendVar: 0
    // Made once the first frame is on screen (see finishStartUp), since only a user who is not
    // signed in or opens the menu needs them.
    property Item authLayer: null
    // Typed by the template: the style's Menu would compile its documents before the first frame.
    property T.Menu helpPopup: null

    minimumWidth: 470 * scf
    minimumHeight: 210 * scf
    maximumWidth: minimumWidth
    maximumHeight: minimumHeight
    // The window takes its fixed size from the limits; without these it would open at zero size.
    width: minimumWidth
    height: minimumHeight
    visible: true
    // DEV_MODE is set only after loading. Naming it in the binding makes the engine evaluate the
    // title again when it arrives; a lookup inside a function alone would not.
    title: {
        try { DEV_MODE } catch (missing) {}
        return Functions.setApplicationWindowTitle()
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    Btn {
        objectName: "myAccountButton"
        anchors.left: parent.left
        anchors.top: parent.top
        iconName: "My Account"
        iconWidth: 140 * scf
        iconHeight: 28 * scf
        enabled: prop.isActiveProduct
        onClicked: backendLoader.openMyAccountWindow()
    }

    Btn {
        objectName: "helpButton"
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.rightMargin: 5 * scf
        anchors.topMargin: 5 * scf
        iconName: "Help"
        iconWidth: 30 * scf
        iconHeight: 30 * scf
        enabled: prop.isActiveProduct
        onClicked: helpPopup.popup(app.width - 225 * scf, 5 * scf)
    }

    Row {
        anchors.centerIn: parent
        spacing: 15 * scf

        Btn {
            objectName: "selectFileButton"
            iconName: "Select File"
            iconWidth: 130 * scf
            iconHeight: 130 * scf
            enabled: prop.isActiveProduct
            onClicked: backendLoader.selectFile()
        }
        Btn {
            objectName: "settingsButton"
            iconName: "Settings"
            iconWidth: 130 * scf
            iconHeight: 130 * scf
            enabled: prop.isActiveProduct
            onClicked: backendLoader.openSettingsWindow()
        }
        Btn {
            objectName: "archiveButton"
            iconName: "archive"
            iconWidth: 130 * scf
            iconHeight: 130 * scf
            enabled: prop.isActiveProduct
            onClicked: backendLoader.openArchive()
        }
    }

    BackendLoaderComponent { id: backendLoader }
    AuthComponent { id: auth }

    DropArea {
        objectName: "dropArea"
        anchors.fill: parent
        // Nothing is processed for nobody: drops wait for a signed-in user, as the buttons do.
        enabled: prop.isActiveProduct
        onDropped: (drop) => {
            if (!drop.hasUrls)
                return
            // Unix paths keep their leading slash; Windows paths start after it.
            const scheme = prop.osName === "mac" || prop.osName === "linux" ? "file://" : "file:///"
            let paths = []
            for (let i = 0; i < drop.urls.length; ++i) {
                const path = decodeURIComponent(drop.urls[i].toString()).replace(scheme, "")
                console.log("Drag file: " + path)
                paths.push(path)
            }
            backendLoader.loadFiles(paths)
        }
    }

    // Above the sign-in layer, which is made after it.
    LoadingHover { id: initialLoader; objectName: "initialLoader"; z: 1 }

    // The cover shows at once; the sign-in check, which waits for the service, runs after it. The
    // two documents are named by address, not by type, so that they and their imports (the menu's
    // style among them) are compiled only here and not before the first frame.
    function finishStartUp() {
        helpPopup = Qt.createComponent("HelpMenu.qml").createObject(app.contentItem, { objectName: "helpMenu" })
        authLayer = Qt.createComponent("AuthLayer.qml").createObject(app.contentItem, { objectName: "authLayer" })
        auth.initialCheck()
    }

    property bool startUpFinished: false
    // Emitted on this thread just before a frame is handed to the renderer.
    onAfterAnimating: {
        if (startUpFinished)
            return
        startUpFinished = true
        Qt.callLater(finishStartUp)
    }

    Component.onCompleted: {
        backendLoader.onCompleted()
        prop.loggingActive = backendLoader.getLoggingStatus()
    }
    Component.onDestruction: backendLoader.clearMemory()
}
