import QtQuick

// ffmpeg reports no progress, so the bar stays full and only its stripes move.
Column {
    id: screen

    property string text

    signal cancelClicked()

    Item { width: 1; height: 10 * scf }

    Text {
        objectName: "convertingLabel"
        anchors.horizontalCenter: parent.horizontalCenter
        horizontalAlignment: Text.AlignHCenter
        text: screen.text
        font: prop.fonts.font15_19
        color: "white"
    }

    Item { width: 1; height: 10 * scf }

    ProgressBar {
        anchors.horizontalCenter: parent.horizontalCenter
        percents: 100
    }

    Item { width: 1; height: 5 * scf }

    TextBtn {
        objectName: "convertingCancel"
        anchors.horizontalCenter: parent.horizontalCenter
        width: 150 * scf
        height: 44 * scf
        text: "CANCEL"
        onClicked: screen.cancelClicked()
    }
}
