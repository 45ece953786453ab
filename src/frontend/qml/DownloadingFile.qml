import QtQuick

// The two result tracks arrive at once; a finished one trades its bar for a tick.
Column {
    id: screen

    property string instrument
    property real percent1: 0
    property real percent2: 0

    signal cancelClicked()

    readonly property string mainName: Functions.capitalizeFirstLetter(instrument) + " - file.wav"
    readonly property string mixName: "Mix Without " + mainName

    function lineFor(name, percent) {
        return percent === 100 ? "✔ Downloaded " + name
                               : "Downloading " + name + ": " + percent.toFixed(1) + "%"
    }

    Item { width: 1; height: 5 * scf }

    Text {
        objectName: "download1Text"
        anchors.horizontalCenter: parent.horizontalCenter
        text: screen.lineFor(screen.mainName, screen.percent1)
        font: prop.fonts.font13_17
        color: "white"
    }

    ProgressBar {
        anchors.horizontalCenter: parent.horizontalCenter
        visible: screen.percent1 !== 100
        percents: screen.percent1
    }

    Item { width: 1; height: 5 * scf }

    Text {
        objectName: "download2Text"
        anchors.horizontalCenter: parent.horizontalCenter
        text: screen.lineFor(screen.mixName, screen.percent2)
        font: prop.fonts.font13_17
        color: "white"
    }

    ProgressBar {
        anchors.horizontalCenter: parent.horizontalCenter
        visible: screen.percent2 !== 100
        percents: screen.percent2
    }

    Item { width: 1; height: 5 * scf }

    TextBtn {
        objectName: "downloadingCancel"
        anchors.horizontalCenter: parent.horizontalCenter
        width: 150 * scf
        height: 44 * scf
        text: "CANCEL"
        onClicked: screen.cancelClicked()
    }
}
