import QtQuick

// A captioned folder: typed into the white field, or picked with "..." through the window.
Item {
    id: field

    property string label
    property alias value: input.text
    // The settings key this field edits.
    property string type

    signal chooseNewPath(string type, string value)

    implicitHeight: caption.height + 4 * scf + 29 * scf

    Text {
        id: caption
        text: field.label
        font: prop.fonts.font10_13
        color: "white"
    }

    Rectangle {
        anchors.left: parent.left
        anchors.right: browse.left
        anchors.rightMargin: 6 * scf
        anchors.bottom: parent.bottom
        height: 29 * scf
        color: "white"

        TextInput {
            id: input
            objectName: field.objectName + "Input"
            anchors.fill: parent
            anchors.leftMargin: 6 * scf
            anchors.rightMargin: 6 * scf
            verticalAlignment: TextInput.AlignVCenter
            clip: true
            selectByMouse: true
            color: "black"
            font: prop.fonts.font10_13
        }
    }

    TextBtn {
        id: browse
        objectName: field.objectName + "Browse"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        width: 29 * scf
        height: 29 * scf
        radius: 5 * scf
        text: "..."
        // Dots sit on the baseline; lift them to the middle of the square.
        verticalOffset: -3 * scf
        onClicked: field.chooseNewPath(field.type, field.value)
    }
}
