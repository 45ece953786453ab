import QtQuick

// What a queue of files came to: each file with its two results, which open on a click, or its error.
Column {
    id: summary

    property var entries: []
    property string instrument

    signal openResult(string path)

    spacing: 4 * scf

    Repeater {
        objectName: "summaryRows"
        model: summary.entries

        Column {
            required property var modelData
            width: summary.width

            Text {
                width: parent.width
                elide: Text.ElideMiddle
                text: (modelData.error ? "\u2717 " : "\u2713 ") + modelData.file
                font.family: prop.fonts.font9_12.family
                font.pointSize: prop.fonts.font9_12.pointSize
                font.bold: true
                color: "white"
            }

            Row {
                visible: !modelData.error
                spacing: 12 * scf
                leftPadding: 16 * scf

                TextClicked {
                    text: Functions.capitalizeFirstLetter(summary.instrument)
                    onClicked: summary.openResult(modelData.main)
                }
                TextClicked {
                    text: "Mix"
                    onClicked: summary.openResult(modelData.mix)
                }
            }

            Text {
                visible: !!modelData.error
                width: parent.width
                leftPadding: 16 * scf
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                text: modelData.error || ""
                font: prop.fonts.font9_12
                color: "#ffd0d0"
            }
        }
    }
}
