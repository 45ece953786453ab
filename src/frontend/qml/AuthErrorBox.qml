import QtQuick

// The red box that shows why a submission was refused, or green with good news. Room for a one-line
// message is kept while there is nothing to say, so the form does not jump when a message comes or goes.
Item {
    property string error: ""
    property bool good: false
    readonly property alias lineCount: message.lineCount

    width: box.width
    height: Math.max(box.height, metrics.height + 10 * scf) + 5 * scf

    FontMetrics {
        id: metrics
        font: message.font
    }

    Rectangle {
        id: box
        objectName: "redBox"
        y: 5 * scf
        visible: error !== ""
        width: 250 * scf
        height: message.height + 10 * scf
        color: good ? "#2e9a48" : "#ff3636"
        border.width: 1
        border.color: good ? "#145c26" : "#910000"

        Text {
            id: message
            anchors.verticalCenter: parent.verticalCenter
            x: 6 * scf
            width: parent.width - 12 * scf
            text: error
            color: "white"
            font.italic: true
            font.family: prop.fonts.font10_13.family
            font.pointSize: prop.fonts.font10_13.pointSize
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
        }
    }
}
