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
    visible: true
    title: mainFunctions.setApplicationWindowTitle()

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
