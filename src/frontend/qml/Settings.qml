import QtQuick
import QtQuick.Layouts
import "qrc:/qml/OS" as OS

// The user's defaults. The window class fills it through setProgramSettings and answers the signals
// below; the pieces inside only report to the root.
Item {
    id: settingsWindow

    property real scf: 1
    property int gradiendVar: 0
    property var scale_list: []

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
    onScfChanged: selectScale()

    onSetProgramSettings: (data) => {
        saveField.value = data["default_path_save"]
        openField.value = data["default_path_open"]
        // A value that is not offered shows as not set; an unknown player shows nothing.
        videoFormat.currentIndex = Math.max(0, videoFormat.find(data["default_video_format"]))
        audioFormat.currentIndex = Math.max(0, audioFormat.find(data["default_audio_format"]))
        instrument.currentIndex = Math.max(0, instrument.find(data["default_instrument"]))
        videoPlayer.currentIndex = videoPlayer.find(data["default_video_player"])
        audioPlayer.currentIndex = audioPlayer.find(data["default_audio_player"])
    }
    onUpdatePathField: (path, key) => {
        if (key === "default_path_save")
            saveField.value = path
        else if (key === "default_path_open")
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

    function selectScale() {
        for (var i = 0; i < scale_list.length; ++i) {
            if (Math.round(parseFloat(scale_list[i]) * 100) === Math.round(scf * 100)) {
                scaleList.currentIndex = i
                return
            }
        }
    }

    function formatValue(box) {
        return box.currentIndex <= 0 ? "none" : box.currentText
    }

    function collect() {
        return {
            "default_path_save": saveField.value,
            "default_path_open": openField.value,
            "default_video_format": formatValue(videoFormat),
            "default_audio_format": formatValue(audioFormat),
            "default_instrument": formatValue(instrument),
            "default_video_player": videoPlayer.currentText,
            "default_audio_player": audioPlayer.currentText
        }
    }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: settingsWindow.gradiendVar++
    }

    OS.CurrentTheme { id: theme }
    Properties {
        id: prop
        readonly property alias defaultFont: theme.defaultFont
        readonly property alias fonts: theme.fonts
        readonly property alias osName: theme.name
    }
    Background { id: background }
    Functions { id: mainFunctions }

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
                    type: "default_path_save"
                    onChooseNewPath: (type, value) => settingsWindow.chooseNewPath(type, value)
                }

                SettingsPathField {
                    id: openField
                    objectName: "openField"
                    width: parent.width
                    label: "Open File Location"
                    type: "default_path_open"
                    onChooseNewPath: (type, value) => settingsWindow.chooseNewPath(type, value)
                }
            }
        }

        GroupBox {
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
                    model: ["Default Video Player", "Tunewright", "Clipwright", "Singwright"]
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
                    model: ["Default Audio Player", "Tunewright", "Singwright"]
                    onActivated: (index) => settingsWindow.checkPathIsExisted(textAt(index), "audio")
                }
            }
        }

        GroupBox {
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
