import QtQuick

// The results: open either track or their folder, or start over with this file or another.
Item {
    id: screen

    property string instrument
    property string selectedOutputFormat
    property string playerForVideo
    property string playerForAudio
    // A queue's outcome, one entry per file: { file, main, mix, error }; empty after a single file.
    property var summary: []

    signal homeClicked()
    signal openClicked(string type)
    signal openResultClicked(string path)
    signal isolateAnotherClicked()
    signal processAnotherClicked()

    readonly property bool isAudioFormat:
        ["MP3", "WAV", "M4A", "AIFF", "FLAC", "WMA"].indexOf(selectedOutputFormat) >= 0
    readonly property string player: isAudioFormat ? playerForAudio : playerForVideo
    readonly property bool isBatch: summary.length > 0
    readonly property int failures: summary.filter((entry) => !!entry.error).length

    implicitHeight: 325 * scf

    Btn {
        objectName: "successHomeButton"
        iconName: "home"
        iconWidth: 35 * scf
        iconHeight: 35 * scf
        onClicked: screen.homeClicked()
    }

    Column {
        anchors.top: parent.top
        anchors.horizontalCenter: parent.horizontalCenter

        Item { width: 1; height: 20 * scf }

        Text {
            objectName: "successTitle"
            anchors.horizontalCenter: parent.horizontalCenter
            text: !screen.isBatch ? "Process is Successful!"
                  : screen.failures === 0 ? "All " + screen.summary.length + " Files Processed!"
                  : (screen.summary.length - screen.failures) + " of " + screen.summary.length + " Files Processed"
            font.family: prop.defaultFont.family
            font.pointSize: prop.fonts.font16_21.pointSize
            font.bold: true
            color: "white"
        }

        Item { width: 1; height: 20 * scf }

        Flickable {
            objectName: "summaryView"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: screen.isBatch
            width: 400 * scf
            height: Math.min(contentHeight, 130 * scf)
            contentHeight: batchSummary.implicitHeight
            clip: true

            BatchSummary {
                id: batchSummary
                width: parent.width
                entries: screen.summary
                instrument: screen.instrument
                onOpenResult: (path) => screen.openResultClicked(path)
            }
        }

        Item { width: 1; height: 8 * scf; visible: screen.isBatch }

        TextBtn {
            objectName: "openSavedFolderButton"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: screen.isBatch
            width: 200 * scf
            height: 36 * scf
            text: "Open Saved Folder"
            onClicked: screen.openClicked("folder")
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            visible: !screen.isBatch
            spacing: 15 * scf

            Repeater {
                model: [
                    { name: "openMainButton", type: "main",
                      text: "Open " + Functions.capitalizeFirstLetter(screen.instrument) + " In\n" + screen.player },
                    { name: "openMixButton", type: "mix", text: "Open Mix In\n" + screen.player },
                    { name: "openFolderButton", type: "folder", text: "Open Containing\nFolder" }
                ]

                Btn {
                    required property var modelData
                    objectName: modelData.name
                    iconName: "open in"
                    iconWidth: 130 * scf
                    iconHeight: 130 * scf
                    label.text: modelData.text
                    onClicked: screen.openClicked(modelData.type)
                }
            }
        }
    }

    TextBtn {
        objectName: "isolateAnotherButton"
        anchors.left: parent.left
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 25 * scf
        width: 200 * scf
        height: 44 * scf
        text: "Isolate Another Instrument"
        onClicked: screen.isolateAnotherClicked()
    }

    TextBtn {
        objectName: "processAnotherButton"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 25 * scf
        width: 200 * scf
        height: 44 * scf
        text: "Process Another File"
        onClicked: screen.processAnotherClicked()
    }
}
