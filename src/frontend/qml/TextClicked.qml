import QtQuick

// A text that works as a link.
Text {
    id: link

    signal clicked()

    color: "white"
    font.family: prop.fonts.font9_12.family
    font.pointSize: prop.fonts.font9_12.pointSize
    font.underline: mouse.containsMouse

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: link.clicked()
    }
}
