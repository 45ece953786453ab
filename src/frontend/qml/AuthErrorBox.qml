import QtQuick

// The red box that shows why a submission was refused; takes no room while there is nothing to say.
Item {
    property string error: ""

    visible: error !== ""
    width: box.width
    height: box.height + 5 * scf

    Rectangle {
        id: box
        y: 5 * scf
        width: 250 * scf
        height: message.height + 10 * scf
        color: "#ff3636"
        border.width: 1
        border.color: "#910000"

        Text {
            id: message
            anchors.verticalCenter: parent.verticalCenter
            x: 10 * scf
            width: parent.width - 20 * scf
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
