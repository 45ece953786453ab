import QtQuick
import QtQuick.Layouts

// The user's defaults. The window class fills it through setProgramSettings and answers the signals
// below; the pieces inside only report to the root.
Item {
    id: settingsWindow

    property real scf: 1
    property int gradiendVar: 0
    property var scale_list: []
    // The scale the user chose; the window may be drawn smaller (scf) to fit the screen.
    property real chosenScale: 1
    readonly property var videoPlayers: ["Default Video Player", "Tunewright", "Clipwright", "Singwright"]
    readonly property var audioPlayers: ["Default Audio Player", "Tunewright", "Singwright"]

    signal loaded()
    signal setProgramSettings(var data)
    signal resetOpening(string field)
    signal updatePathField(string path, string key)
    signal saveScf(real scf)
    signal cancel()
    signal defaultSettings()
    signal chooseNewPath(string settingsKey, string path)
    signal checkPathIsExisted(string key, string field)
    signal save(var data)

    implicitWidth: 540 * scf
    implicitHeight: 670 * scf

    onLoaded: gradientRefresh.restart()

    onSetProgramSettings: (data) => {
        saveField.value = data[settingsKeys.pathSave]
        openField.value = data[settingsKeys.pathOpen]
        // A value that is not offered shows as not set.
        videoFormat.currentIndex = Math.max(0, videoFormat.find(data[settingsKeys.videoFormat]))
        audioFormat.currentIndex = Math.max(0, audioFormat.find(data[settingsKeys.audioFormat]))
        instrument.currentIndex = Math.max(0, instrument.find(data[settingsKeys.instrument]))
        showPlayer(videoPlayer, videoPlayers, data[settingsKeys.videoPlayer])
        showPlayer(audioPlayer, audioPlayers, data[settingsKeys.audioPlayer])
        selectScale()
    }
    onUpdatePathField: (path, key) => {
        if (key === settingsKeys.pathSave)
            saveField.value = path
        else if (key === settingsKeys.pathOpen)
            openField.value = path
    }
    onResetOpening: (field) => {
        if (field === "audio")
            audioPlayer.currentIndex = 0
        else
            videoPlayer.currentIndex = 0
    }

    Component.onCompleted: {
        var list = []
        for (var i = 0; i <= 90; ++i)
            list.push(((60 + i) / 100).toFixed(2))
        scale_list = list
        selectScale()
    }

    // A scale the list does not offer shows nothing, so that no OK can put another in its place.
    function selectScale() {
        scaleList.currentIndex = scale_list.findIndex((entry) => hundredths(entry) === Math.round(chosenScale * 100))
    }

    function hundredths(entry) {
        return Math.round(parseFloat(entry) * 100)
    }

    // A player stored by another version stays on offer as it is; none at all is the default one.
    function showPlayer(box, offered, stored) {
        box.model = !stored || offered.includes(stored) ? offered : offered.concat([stored])
        box.currentIndex = Math.max(0, box.find(stored))
    }

    function formatValue(box) {
        return box.currentIndex <= 0 ? "none" : box.currentText
    }

    function collect() {
        var data = {
            [settingsKeys.pathSave]: saveField.value,
            [settingsKeys.pathOpen]: openField.value,
            [settingsKeys.videoFormat]: formatValue(videoFormat),
            [settingsKeys.audioFormat]: formatValue(audioFormat),
            [settingsKeys.instrument]: formatValue(instrument),
            [settingsKeys.videoPlayer]: videoPlayer.currentText,
            [settingsKeys.audioPlayer]: audioPlayer.currentText
        }
        // The scale goes with the rest only when the user picked another one.
        if (scaleList.currentIndex >= 0 && hundredths(scaleList.currentText) !== Math.round(chosenScale * 100))
            data[settingsKeys.guiScale] = parseFloat(scaleList.currentText)
        return data
    }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: settingsWindow.gradiendVar++
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 15 * scf
        spacing: 20 * scf

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: header.implicitHeight

            Btn {
                objectName: "homeButton"
                anchors.verticalCenter: parent.verticalCenter
                iconName: "home"
                iconWidth: 28 * scf
                iconHeight: 28 * scf
                onClicked: settingsWindow.cancel()
            }

            SectionLabel {
                id: header
                anchors.centerIn: parent
                text: "OPTION SETTINGS"
            }
        }

        GroupBox {
            objectName: "pathBox"
            label: "Default Path"
            Layout.fillWidth: true
            Layout.preferredHeight: 140 * scf

            Column {
                anchors.fill: parent
                anchors.margins: 15 * scf
                anchors.topMargin: 18 * scf
                spacing: 12 * scf

                SettingsPathField {
                    id: saveField
                    objectName: "saveField"
                    width: parent.width
                    label: "Save File Location"
                    type: settingsKeys.pathSave
                    onChooseNewPath: (type, value) => settingsWindow.chooseNewPath(type, value)
                }

                SettingsPathField {
                    id: openField
                    objectName: "openField"
                    width: parent.width
                    label: "Open File Location"
                    type: settingsKeys.pathOpen
                    onChooseNewPath: (type, value) => settingsWindow.chooseNewPath(type, value)
                }
            }
        }

        GroupBox {
            objectName: "defaultsBox"
            label: "Default Settings"
            Layout.fillWidth: true
            Layout.preferredHeight: 75 * scf

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.verticalCenter: parent.verticalCenter
                anchors.verticalCenterOffset: 3 * scf
                spacing: 15 * scf

                Column {
                    spacing: 4 * scf

                    Text {
                        text: "Video Output Format:"
                        font: prop.fonts.font10_13
                        color: "white"
                    }

                    Dropdown {
                        id: videoFormat
                        objectName: "videoFormat"
                        width: 150 * scf
                        font: prop.fonts.font10_13
                        model: ["Not Set", "MP4", "MKV", "MOV", "WMV", "MPG", "WEBM",
                                "MP3", "WAV", "M4A", "AIFF", "FLAC", "WMA"]
                    }
                }

                Column {
                    spacing: 4 * scf

                    Text {
                        text: "Audio Output Format:"
                        font: prop.fonts.font10_13
                        color: "white"
                    }

                    Dropdown {
                        id: audioFormat
                        objectName: "audioFormat"
                        width: 150 * scf
                        font: prop.fonts.font10_13
                        model: ["Not Set", "MP3", "WAV", "M4A", "AIFF", "FLAC", "WMA"]
                    }
                }

                Column {
                    spacing: 4 * scf

                    Text {
                        text: "Instrument to Remove:"
                        font: prop.fonts.font10_13
                        color: "white"
                    }

                    Dropdown {
                        id: instrument
                        objectName: "instrument"
                        width: 150 * scf
                        font: prop.fonts.font10_13
                        model: ["Not Set", "Vocals", "Drums", "Bass", "Piano", "Guitar"]
                    }
                }
            }
        }

        GroupBox {
            objectName: "playersBox"
            label: "Integration With Other Orvane Programs"
            Layout.fillWidth: true
            Layout.preferredHeight: 90 * scf

            Grid {
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 3 * scf
                columns: 2
                columnSpacing: 15 * scf
                rowSpacing: 8 * scf
                verticalItemAlignment: Grid.AlignVCenter

                Text {
                    text: "Opening Video File In:"
                    font: prop.fonts.font10_13
                    color: "white"
                }

                Dropdown {
                    id: videoPlayer
                    objectName: "videoPlayer"
                    width: 200 * scf
                    font: prop.fonts.font10_13
                    model: settingsWindow.videoPlayers
                    onActivated: (index) => settingsWindow.checkPathIsExisted(textAt(index), "video")
                }

                Text {
                    text: "Opening Audio File In:"
                    font: prop.fonts.font10_13
                    color: "white"
                }

                Dropdown {
                    id: audioPlayer
                    objectName: "audioPlayer"
                    width: 200 * scf
                    font: prop.fonts.font10_13
                    model: settingsWindow.audioPlayers
                    onActivated: (index) => settingsWindow.checkPathIsExisted(textAt(index), "audio")
                }
            }
        }

        GroupBox {
            objectName: "scaleBox"
            label: "Gui Resizing"
            Layout.fillWidth: true
            Layout.preferredHeight: 120 * scf

            Column {
                anchors.fill: parent
                anchors.margins: 15 * scf
                anchors.topMargin: 16 * scf
                spacing: 8 * scf

                Text {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.WordWrap
                    text: "By Default it is set to 1.0. Selecting a larger number will\nincrease the size of the controls you see on your screen."
                    font: prop.fonts.font10_13
                    color: "white"
                }

                Row {
                    anchors.horizontalCenter: parent.horizontalCenter
                    spacing: 15 * scf

                    Dropdown {
                        id: scaleList
                        objectName: "scaleList"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 70 * scf
                        font: prop.fonts.font10_13
                        model: settingsWindow.scale_list
                    }

                    TextBtn {
                        objectName: "scaleOkButton"
                        width: 100 * scf
                        height: 40 * scf
                        text: "OK"
                        onClicked: settingsWindow.saveScf(parseFloat(scaleList.currentText))
                    }
                }
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 40 * scf

            Row {
                spacing: 15 * scf

                TextBtn {
                    objectName: "okButton"
                    width: 100 * scf
                    height: 40 * scf
                    text: "OK"
                    onClicked: settingsWindow.save(settingsWindow.collect())
                }

                TextBtn {
                    objectName: "cancelButton"
                    width: 100 * scf
                    height: 40 * scf
                    text: "CANCEL"
                    onClicked: settingsWindow.cancel()
                }
            }

            TextBtn {
                objectName: "restoreButton"
                anchors.right: parent.right
                width: 190 * scf
                height: 40 * scf
                text: "Restore Default Settings"
                onClicked: settingsWindow.defaultSettings()
            }
        }

        Item { Layout.fillHeight: true }
    }
}
