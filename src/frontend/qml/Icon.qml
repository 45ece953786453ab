import QtQuick

// A picture with one file per button state, found by name: "<name>-U.svg" normal, "-F" hovered,
// "-D" pressed, "-X" disabled, and "<name>.svg" as the plain picture of state "none".
Image {
    id: icon

    property string baseUrl: ""
    property string name
    property bool shadow: false
    property url sourceNormal
    property url sourceDisabled
    property url sourcePressed
    property url sourceHovered
    property url sourceBasic

    source: sourceNormal
    layer.enabled: shadow
    layer.smooth: true

    onNameChanged: {
        var prefix = baseUrl === "" ? "/icons/" : baseUrl
        sourceNormal = Qt.resolvedUrl(prefix + name + "-U.svg")
        sourceDisabled = Qt.resolvedUrl(prefix + name + "-X.svg")
        sourcePressed = Qt.resolvedUrl(prefix + name + "-D.svg")
        sourceHovered = Qt.resolvedUrl(prefix + name + "-F.svg")
        sourceBasic = Qt.resolvedUrl(prefix + name + ".svg")
    }

    states: [
        State {
            name: "none"
            PropertyChanges { target: icon; source: icon.sourceBasic }
        },
        State {
            name: "disabled"
            PropertyChanges { target: icon; source: icon.sourceDisabled }
        },
        State {
            name: "hovered"
            PropertyChanges { target: icon; source: icon.sourceHovered }
        },
        State {
            name: "pressed"
            PropertyChanges { target: icon; source: icon.sourcePressed }
        }
    ]
}
