import QtQuick
import QtQuick.Controls
import "qrc:/qml/OS" as OS

ApplicationWindow {
    id: app

    property real scf: 1
    property alias prop: prop
    readonly property alias mainFunctions: mainFunctions

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
        return mainFunctions.setApplicationWindowTitle()
    }

    OS.CurrentTheme { id: theme }
    Properties {
        id: prop
        readonly property alias defaultFont: theme.defaultFont
        readonly property alias fonts: theme.fonts
        readonly property alias osName: theme.name
    }
    Background { id: background }

    Functions { id: mainFunctions }
}
