import QtQuick

// The Archive window: one row per song processed in the last 30 days, with a format to choose and a
// button per result track. The window class fills the list and answers the rows' clicks.
Item {
    id: archive

    property real scf: 1
    property int gradiendVar: 0
    property bool isProcessing: true
    // Why the list could not be had; the empty list's text would tell the user their songs are gone.
    property string listError: ""

    readonly property var videoFormats: ["MP4", "MKV", "MOV", "WMV", "MPG", "WEBM"]
    readonly property var audioFormats: ["MP3", "WAV", "M4A", "AIFF", "FLAC", "WMA"]

    signal loaded()
    signal cancel()
    signal openFolder()
    signal operateFile(int id, bool isMix, string newExtension)
    signal changedFormat(int id, string newExtension)
    signal updateFiles(var files)
    signal changeButtons(int idx, string instrumentButton, string mixButton)

    implicitWidth: 540 * scf
    implicitHeight: 500 * scf

    onLoaded: gradientRefresh.restart()
    function formatsFor(isVideo) {
        return isVideo ? videoFormats.concat(audioFormats) : audioFormats
    }

    // Each row starts at its stored format, or at its first choice when that is not offered. The choice
    // lives in the model, so that a row the list makes again keeps it.
    onUpdateFiles: (files) => {
        songs.clear()
        for (const file of files) {
            const offered = formatsFor(file.isVideo)
            file.chosen = offered[Math.max(0, offered.indexOf(String(file.extension).toUpperCase()))]
            songs.append(file)
        }
        for (let row = 0; row < songs.count; ++row)
            archive.changedFormat(row, songs.get(row).chosen.toLowerCase())
    }
    onChangeButtons: (idx, instrumentButton, mixButton) => {
        if (idx < 0 || idx >= songs.count)
            return
        songs.setProperty(idx, "btnInstrument", instrumentButton)
        songs.setProperty(idx, "btnMix", mixButton)
    }

    ListModel { id: songs }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: archive.gradiendVar++
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    Item {
        anchors.fill: parent
        anchors.margins: 15 * scf

        Item {
            id: header
            width: parent.width
            height: 47 * scf
            y: 5 * scf

            Btn {
                objectName: "homeButton"
                anchors.verticalCenter: parent.verticalCenter
                iconName: "home"
                iconWidth: 28 * scf
                iconHeight: 28 * scf
                onClicked: archive.cancel()
            }

            SectionLabel {
                anchors.centerIn: parent
                text: "LIST OF THE PROCEED FILES"
            }
        }

        Rectangle {
            id: listFrame
            anchors.top: header.bottom
            anchors.topMargin: 15 * scf
            anchors.bottom: footer.top
            anchors.bottomMargin: 15 * scf
            width: parent.width
            gradient: Gradient {
                GradientStop { position: 0.0; color: "#ffffff" }
                GradientStop { position: 1.0; color: "#4c63bc" }
            }

            Rectangle {
                anchors.fill: parent
                anchors.margins: 2 * scf
                color: "#7d97b5"

                Text {
                    objectName: "emptyText"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: 10 * scf
                    width: parent.width - 20 * scf
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    visible: songs.count === 0
                    text: archive.listError !== "" ? archive.listError : "No processed files for last 30 days"
                    font: prop.fonts.font11_15
                    color: "white"
                }

                ListView {
                    objectName: "songList"
                    anchors.fill: parent
                    clip: true
                    model: songs
                    boundsBehavior: Flickable.StopAtBounds

                    delegate: Rectangle {
                        id: row

                        required property int index
                        required property string name
                        required property string deleted
                        required property string instrument
                        required property string btnInstrument
                        required property string btnMix
                        required property bool isVideo
                        required property string chosen
                        required property string processed

                        objectName: "row_" + index
                        width: ListView.view.width
                        height: 40 * scf
                        color: index % 2 === 0 ? "#496993" : "#6d8baf"

                        function chosenFormat() {
                            return row.chosen.toLowerCase()
                        }

                        Column {
                            anchors.left: parent.left
                            anchors.leftMargin: 8 * scf
                            anchors.right: formatList.left
                            anchors.rightMargin: 8 * scf
                            anchors.verticalCenter: parent.verticalCenter

                            // Songs of one name from different folders differ in when they were processed.
                            Item {
                                width: parent.width
                                height: title.height

                                Text {
                                    id: title
                                    objectName: "title_" + row.index
                                    anchors.left: parent.left
                                    anchors.right: processedText.left
                                    anchors.rightMargin: processedText.text === "" ? 0 : 6 * scf
                                    text: row.name
                                    elide: Text.ElideRight
                                    font: prop.fonts.font10_13
                                    color: "white"
                                }

                                Text {
                                    id: processedText
                                    objectName: "processed_" + row.index
                                    anchors.right: parent.right
                                    anchors.baseline: title.baseline
                                    text: row.processed
                                    font: prop.fonts.font8_10
                                    color: "#e6ecf5"
                                }
                            }

                            Text {
                                width: parent.width
                                text: "Files available until " + row.deleted
                                elide: Text.ElideRight
                                font.family: prop.fonts.font8_10.family
                                font.pointSize: prop.fonts.font8_10.pointSize
                                font.italic: true
                                color: "#e6ecf5"
                            }
                        }

                        Dropdown {
                            id: formatList
                            objectName: "format_" + row.index
                            anchors.right: instrumentButton.left
                            anchors.rightMargin: 6 * scf
                            anchors.verticalCenter: parent.verticalCenter
                            width: 65 * scf
                            height: 24 * scf
                            font: prop.fonts.font8_10
                            model: archive.formatsFor(row.isVideo)
                            currentIndex: Math.max(0, model.indexOf(row.chosen))
                            onActivated: (choice) => {
                                songs.setProperty(row.index, "chosen", textAt(choice))
                                archive.changedFormat(row.index, row.chosenFormat())
                            }
                        }

                        ArchiveBtn {
                            id: instrumentButton
                            objectName: "instrumentButton_" + row.index
                            anchors.right: mixButton.left
                            anchors.rightMargin: 6 * scf
                            anchors.verticalCenter: parent.verticalCenter
                            width: 85 * scf
                            text: Functions.capitalizeFirstLetter(row.instrument)
                            font: prop.fonts.font8_10
                            icon: row.btnInstrument
                            onClicked: archive.operateFile(row.index, false, row.chosenFormat())
                        }

                        ArchiveBtn {
                            id: mixButton
                            objectName: "mixButton_" + row.index
                            anchors.right: parent.right
                            anchors.rightMargin: 8 * scf
                            anchors.verticalCenter: parent.verticalCenter
                            width: 70 * scf
                            text: "Mix"
                            font: prop.fonts.font8_10
                            icon: row.btnMix
                            onClicked: archive.operateFile(row.index, true, row.chosenFormat())
                        }
                    }
                }
            }
        }

        Item {
            id: footer
            anchors.bottom: parent.bottom
            width: parent.width
            height: 40 * scf

            TextBtn {
                objectName: "openFolderButton"
                anchors.left: parent.left
                width: 160 * scf
                height: 40 * scf
                text: "Open Saved Folder"
                onClicked: archive.openFolder()
            }

            TextBtn {
                objectName: "closeButton"
                anchors.right: parent.right
                width: 140 * scf
                height: 40 * scf
                text: "CLOSE"
                onClicked: archive.cancel()
            }
        }
    }

    LoadingHover {
        objectName: "loadingCover"
        visible: archive.isProcessing
    }
}
