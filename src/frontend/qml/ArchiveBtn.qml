import QtQuick

// Text button of an archive row: its icon says whether the result is on disk ("play") or not ("download").
TextBtn {
    id: control

    property string icon

    width: 90 * scf
    height: 26 * scf
    // The label starts 33 from the left edge whatever its length; the icon ends 5 before it.
    horizontalOffset: 33 * scf + labelComponent.implicitWidth / 2 - width / 2

    Image {
        objectName: "icon"
        x: 33 * scf - 5 * scf - width
        anchors.verticalCenter: parent.verticalCenter
        width: 16 * scf
        height: 16 * scf
        sourceSize.width: width
        sourceSize.height: height
        source: "qrc:/icons/" + control.icon + ".svg"
    }
}
