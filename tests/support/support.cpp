// Shared test support: model builders and recorders live beside this file.
