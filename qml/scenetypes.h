#pragma once

// Makes the player scenes usable: compiles their files and pictures into the resources
// (qrc:/qml/..., qrc:/images/...) and registers the scene helper types of the module
// NovalineScenes 1.0 (the singleton SceneLogic and PlaylistSectionModel). Call once
// before the first scene is loaded.
void registerSceneTypes();
