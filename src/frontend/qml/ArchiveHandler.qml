import QtQuick

// The download-and-convert window of the archive: the download's percentage or a converting notice,
// and CANCEL. The window class writes `mode`, `downloadingPercent` and `fileName`.
Item {
    id: process

    property real scf: 1
    property int gradiendVar: 0
    property string mode: ""
    property int downloadingPercent: 0
    property string fileName: ""

    signal loaded()
    signal cancelProcess()

    implicitWidth: 470 * scf
    implicitHeight: 350 * scf

    onLoaded: gradientRefresh.restart()
    onModeChanged: {
        if (mode === "") {
            fileName = ""
            downloadingPercent = 0
        }
    }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: process.gradiendVar++
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    Column {
        objectName: "busyView"
        anchors.centerIn: parent
        width: parent.width - 40 * scf
        spacing: 15 * scf
        visible: process.mode === "downloading" || process.mode === "converting"

        FileNameField {
            width: parent.width
            fileName: process.fileName
        }

        Text {
            objectName: "statusText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: process.mode === "downloading"
                  ? "Downloading file: " + process.downloadingPercent.toFixed(1) + "%"
                  : "File Converting"
            font: prop.fonts.font15_19
            color: "white"
        }

        ProgressBar {
            anchors.horizontalCenter: parent.horizontalCenter
            percents: process.mode === "downloading" ? process.downloadingPercent : 100
        }

        TextBtn {
            objectName: "cancelButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 150 * scf
            height: 44 * scf
            text: "CANCEL"
            onClicked: process.cancelProcess()
        }
    }
}
