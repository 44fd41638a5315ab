#include "app/NetworkErrorText.h"

#include "app/ErrorText.h"
#include "app/Errors.h"

namespace {

struct NetworkErrorRow {
    unsigned long number;
    const char* text;
};

constexpr NetworkErrorRow kTexts[] = {
    // The HTTP client's own numbers.
    {12002, "Se agotó el tiempo de espera de la operación"},
    {12005, "La dirección URL no es válida"},
    {12007, "No se encontró el nombre del servidor: no se pudo resolver el nombre o la dirección"},
    {12017, "Se canceló la operación"},
    {12019, "El identificador se encuentra en un estado incorrecto para la operación solicitada"},
    {12029, "No se puede establecer una conexión con el servidor"},
    {12030, "La conexión con el servidor finalizó de forma anormal"},
    {12031, "Se restableció la conexión con el servidor"},
    {12152, "El servidor devolvió una respuesta no válida o no reconocida"},
    {12157, "Se produjo un error en el canal seguro"},
    {12175, "Se produjo un error de seguridad"},
    {kProxyAuthenticationRequired, "El servidor proxy solicita autenticación"},
    // The system and the sockets.
    {8, "No hay suficiente espacio de almacenamiento para procesar este comando."},
    {22, "El dispositivo no reconoce el comando."},
    {87, "El parámetro no es correcto."},
    {995, "La operación de E/S se anuló por una salida de subproceso o por una solicitud de aplicación."},
    {10004, "Se interrumpió una operación de bloqueo."},
    {10013, "Se intentó obtener acceso a un socket de una manera prohibida por sus permisos de acceso."},
    {10022, "Se ha proporcionado un argumento no válido."},
    {10043, "No se ha configurado el protocolo solicitado en el sistema o no existe una implementación del mismo."},
    {10047, "Se usó una dirección incompatible con el protocolo solicitado."},
    {10049, "La dirección solicitada no es válida en este contexto."},
    {10050, "Una operación de socket encontró una red inactiva."},
    {10051, "Se intentó una operación de socket en una red no accesible."},
    {10053, "Se ha anulado una conexión establecida por el software en su equipo host."},
    {10054, "Se ha forzado la interrupción de una conexión existente por el host remoto."},
    {10060, "Se produjo un error durante el intento de conexión ya que la parte conectada no respondió "
            "adecuadamente tras un periodo de tiempo."},
    {10061, "No se puede establecer una conexión ya que el equipo de destino denegó expresamente dicha conexión."},
    {10064, "Error en la operación de socket porque el host de destino estaba apagado."},
    {10065, "Se intentó una operación de socket con un host inaccesible."},
    // The resolver.
    {11001, "No se encontró el nombre del servidor (host desconocido)."},
    {11002, "No se encontró el nombre del servidor: el servidor de nombres no respondió a tiempo; "
            "normalmente es un error temporal."},
    {11003, "Se produjo un error irrecuperable durante una consulta de base de datos."},
    {11004, "No se encontró el nombre del servidor: el nombre solicitado es válido, pero no se encontraron "
            "datos del tipo solicitado."},
};

} // namespace

std::string NetworkErrorText(unsigned long number)
{
    for (const NetworkErrorRow& row : kTexts)
        if (row.number == number) return row.text;
    return {};
}

std::string NumberedNetworkErrorText(unsigned long number)
{
    std::string text = NetworkErrorText(number);
    if (text.empty()) text = CErrorText().Text(0);
    return NumberedErrorText(number, text);
}
