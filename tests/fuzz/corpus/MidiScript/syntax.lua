function (
