import QtQuick

// The five instruments as picture buttons; each button's icon name is the service's value.
Column {
    id: list

    signal instrumentChosen(string name)

    spacing: 10 * scf

    Repeater {
        model: [["guitar", "vocals", "piano"], ["bass", "drums"]]

        Row {
            required property var modelData
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 10 * scf

            Repeater {
                model: parent.modelData

                Btn {
                    required property string modelData
                    objectName: "instrument_" + modelData
                    iconName: modelData
                    iconWidth: 130 * scf
                    iconHeight: 130 * scf
                    onClicked: list.instrumentChosen(iconName)
                }
            }
        }
    }
}
