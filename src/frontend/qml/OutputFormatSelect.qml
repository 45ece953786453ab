import QtQuick

// The output format as a picture button; a click opens the list of formats the source allows.
Item {
    id: chooser

    property string selectedOutputFormat
    property bool isVideo: true

    signal formatChosen(string format)

    readonly property var audioFormats: ["MP3", "WAV", "M4A", "AIFF", "FLAC", "WMA"]
    readonly property var videoFormats: ["MP4", "MKV", "MOV", "WMV", "MPG", "WEBM"]
    readonly property bool chosen: selectedOutputFormat !== "none"
    readonly property bool isAudioFormat: audioFormats.indexOf(selectedOutputFormat) >= 0

    implicitWidth: 130 * scf
    implicitHeight: 130 * scf

    // Below the button, so that the list's hidden box does not take the button's clicks.
    Dropdown {
        id: formatList
        objectName: "formatList"
        anchors.horizontalCenter: parent.horizontalCenter
        width: 100 * scf
        mainVisible: false
        model: chooser.isVideo ? chooser.videoFormats.concat(chooser.audioFormats) : chooser.audioFormats
        currentIndex: -1
        font: prop.fonts.font10_13
        onActivated: (index) => chooser.formatChosen(index >= 0 ? textAt(index) : "none")
    }

    Btn {
        objectName: "formatButton"
        anchors.fill: parent
        iconName: chooser.chosen ? "open in" : "Output Format"
        iconWidth: 130 * scf
        iconHeight: 130 * scf
        additionalIcon.source: !chooser.chosen ? "" : chooser.isAudioFormat ? "/icons/audio.svg" : "/icons/video.svg"
        additionalIcon.sourceSize: Qt.size(80 * scf, 80 * scf)
        additionalIcon.y: 15 * scf
        label.text: chooser.chosen ? chooser.selectedOutputFormat : ""
        label.y: height - label.height - 15 * scf
        onClicked: {
            formatList.currentIndex = formatList.find(chooser.selectedOutputFormat)
            formatList.popup.open()
        }
    }
}
