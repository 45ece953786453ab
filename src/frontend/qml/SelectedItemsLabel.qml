import QtQuick

// What the running job was asked for, in a frame whose inside blends into the window gradient.
Rectangle {
    id: box

    property string instrument
    property string outputFormat

    implicitWidth: 340 * scf
    implicitHeight: visible ? 60 * scf : 0
    radius: 10 * scf
    gradient: Gradient {
        GradientStop { position: 0.0; color: "#ffffff" }
        GradientStop { position: 1.0; color: "#4c63bc" }
    }

    Rectangle {
        id: fill
        anchors.fill: parent
        anchors.margins: 2 * scf
        radius: 8 * scf
        gradient: Gradient {
            GradientStop {
                position: 0.0
                color: Functions.interpolateColor(background, box, 2 * scf, gradiendVar)
            }
            GradientStop {
                position: 1.0
                color: Functions.interpolateColor(background, box, 2 * scf + fill.height, gradiendVar)
            }
        }
    }

    Column {
        anchors.centerIn: parent

        Text {
            objectName: "selectedInstrumentText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Selected Instrument: " + Functions.capitalizeFirstLetter(box.instrument)
            font: prop.fonts.font10_13
            color: "white"
        }

        Text {
            objectName: "selectedFormatText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Output Format: " + box.outputFormat
            font: prop.fonts.font10_13
            color: "white"
        }
    }
}
