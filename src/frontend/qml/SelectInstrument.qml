import QtQuick

// The choice screen: the instrument and the format, then PROCESS; the instrument button swaps
// the choice for the list of instruments.
Item {
    id: screen

    property string selectedInstrument
    property string selectedOutputFormat
    property bool isVideo: true
    property bool showList: false

    signal listRequested()
    signal instrumentChosen(string name)
    signal formatChosen(string format)
    signal processClicked()

    implicitWidth: showList ? list.implicitWidth : choice.implicitWidth
    implicitHeight: showList ? list.implicitHeight : choice.implicitHeight

    Column {
        id: choice
        anchors.horizontalCenter: parent.horizontalCenter
        visible: !screen.showList
        spacing: 25 * scf

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Select the instrument you’d like to have removed"
            font: prop.fonts.font11_15
            color: "white"
        }

        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 40 * scf

            Btn {
                objectName: "instrumentButton"
                iconName: screen.selectedInstrument === "none" ? "Select Instrument" : screen.selectedInstrument
                iconWidth: 130 * scf
                iconHeight: 130 * scf
                onClicked: screen.listRequested()
            }

            OutputFormatSelect {
                selectedOutputFormat: screen.selectedOutputFormat
                isVideo: screen.isVideo
                onFormatChosen: (format) => screen.formatChosen(format)
            }
        }

        TextBtn {
            objectName: "processButton"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 150 * scf
            height: 44 * scf
            text: "PROCESS"
            enabled: screen.selectedInstrument !== "none" && screen.selectedOutputFormat !== "none"
            onClicked: screen.processClicked()
        }
    }

    InstrumentList {
        id: list
        objectName: "instrumentList"
        anchors.horizontalCenter: parent.horizontalCenter
        visible: screen.showList
        onInstrumentChosen: (name) => screen.instrumentChosen(name)
    }
}
