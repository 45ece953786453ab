import QtQuick

Rectangle {
    property color from: "#06407c"
    property color to: "#00050b"

    anchors.fill: parent
    gradient: Gradient {
        GradientStop { position: 0.0; color: from }
        GradientStop { position: 1; color: to }
    }
}
