import QtQuick

// The files queued behind the current one: their number, and their names on request.
Column {
    id: queue

    property var files: []
    property bool expanded: false
    readonly property int shown: 4

    spacing: 2 * scf
    visible: files.length > 0
    onVisibleChanged: if (!visible) expanded = false

    TextClicked {
        objectName: "waitingText"
        anchors.horizontalCenter: parent.horizontalCenter
        text: (queue.files.length === 1 ? "1 more file waiting" : queue.files.length + " more files waiting")
              + (queue.expanded ? " \u25b4" : " \u25be")
        onClicked: queue.expanded = !queue.expanded
    }

    Repeater {
        objectName: "waitingList"
        // A few names; the rest are counted.
        model: queue.expanded ? queue.files.slice(0, queue.shown) : []

        Text {
            required property string modelData
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, 400 * scf)
            elide: Text.ElideMiddle
            text: modelData
            font: prop.fonts.font9_12
            color: "white"
        }
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        visible: queue.expanded && queue.files.length > queue.shown
        text: "and " + (queue.files.length - queue.shown) + " more"
        font: prop.fonts.font9_12
        color: "white"
    }
}
