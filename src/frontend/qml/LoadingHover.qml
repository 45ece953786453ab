import QtQuick

// Covers the whole window while the program waits, and swallows the clicks meanwhile.
Rectangle {
    id: cover

    anchors.fill: parent
    color: "#cc000000"

    Rectangle {
        id: box
        width: 200 * scf
        height: 50 * scf
        anchors.centerIn: parent
        anchors.verticalCenterOffset: -height
        color: "#cc000000"
        radius: 15 * scf

        Text {
            anchors.centerIn: parent
            text: "Loading..."
            color: "white"
            font: prop.fonts.font16_21
        }
    }

    ProgressBar {
        anchors.centerIn: parent
        percents: 100
        visible: cover.visible
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onClicked: console.log("Block click")
    }
}
