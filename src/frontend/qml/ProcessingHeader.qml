import QtQuick

// Home, the file's name and another file. Both buttons work only while nothing runs yet.
Item {
    id: header

    property string fileName
    property bool choosing: false

    signal homeClicked()
    signal selectFileClicked()

    implicitHeight: 35 * scf

    Row {
        anchors.fill: parent
        spacing: 15 * scf

        Btn {
            id: homeButton
            objectName: "homeButton"
            iconName: "home"
            iconWidth: 35 * scf
            iconHeight: 35 * scf
            enabled: header.choosing
            onClicked: header.homeClicked()
        }

        FileNameField {
            anchors.verticalCenter: parent.verticalCenter
            width: header.width - homeButton.width - selectFileButton.width - 2 * parent.spacing
            fileName: header.fileName
        }

        Btn {
            id: selectFileButton
            objectName: "selectFileSmallButton"
            iconName: "Select File Small"
            iconWidth: 35 * scf
            iconHeight: 35 * scf
            enabled: header.choosing
            onClicked: header.selectFileClicked()
        }
    }
}
