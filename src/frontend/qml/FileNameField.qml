import QtQuick

// The source file's name in a glassy blue field; long names lose their middle, not their suffix.
Rectangle {
    id: field

    property string fileName

    implicitHeight: 32 * scf
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#fcfcfc" }
        GradientStop { position: 1.0; color: "#4c4c4c" }
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: 1
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#abbed1" }
            GradientStop { position: 0.264; color: "#6788a9" }
            GradientStop { position: 0.764; color: "#385d89" }
            GradientStop { position: 1.0; color: "#274c7d" }
        }

        Text {
            objectName: "fileNameText"
            anchors.fill: parent
            anchors.leftMargin: 10 * scf
            anchors.rightMargin: 10 * scf
            verticalAlignment: Text.AlignVCenter
            text: "File Name: " + field.fileName
            elide: Text.ElideMiddle
            font: prop.fonts.font11_15
            color: "white"
        }
    }
}
