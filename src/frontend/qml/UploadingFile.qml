import QtQuick

// Upload progress. At 100 % the service is still working out the estimate, so say so.
Column {
    id: screen

    property real percent: 0

    signal cancelClicked()

    Item { width: 1; height: 10 * scf }

    Text {
        objectName: "uploadingText"
        anchors.horizontalCenter: parent.horizontalCenter
        text: screen.percent === 100 ? "Initial settings. Calculating time..."
                                     : "Uploading file: " + screen.percent.toFixed(1) + "%"
        font: prop.fonts.font15_19
        color: "white"
    }

    Item { width: 1; height: 20 * scf }

    ProgressBar {
        anchors.horizontalCenter: parent.horizontalCenter
        percents: screen.percent
    }

    Item { width: 1; height: 20 * scf }

    TextBtn {
        objectName: "uploadingCancel"
        anchors.horizontalCenter: parent.horizontalCenter
        width: 150 * scf
        height: 44 * scf
        text: "CANCEL"
        onClicked: screen.cancelClicked()
    }

    Item { width: 1; height: 10 * scf }
}
