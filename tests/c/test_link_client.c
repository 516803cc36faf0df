/* The C library of the EA link, used from C as an EA in another language would: connect to a
 * desk on "another machine" (127.0.0.1, through TLS), send records and receive their answers,
 * and see the refusals. The desk is link_test_desk, started as a child (argv[1]). */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "quorvel_link.h"

static int failures = 0;

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond);                               \
            ++failures;                                                                                      \
        }                                                                                                    \
    } while (0)

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: test_link_client LINK_TEST_DESK\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    int toDesk[2], fromDesk[2];
    if (pipe(toDesk) != 0 || pipe(fromDesk) != 0) return 2;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toDesk[0], 0);
        dup2(fromDesk[1], 1);
        close(toDesk[1]);
        close(fromDesk[0]);
        execl(argv[1], argv[1], (char*)NULL);
        _exit(127);
    }
    close(toDesk[0]);
    close(fromDesk[1]);
    FILE* in = fdopen(fromDesk[0], "r");
    unsigned port = 0;
    char file[4096], socketPath[4096], folder[4096];
    if (!in || fscanf(in, "%u %4095s %4095s %4095s", &port, file, socketPath, folder) != 4) {
        fprintf(stderr, "the test desk did not start\n");
        return 2;
    }
    char address[64];
    snprintf(address, sizeof address, "127.0.0.1:%u", port);
    char error[256];

    /* An enrolled machine: records and answers, one at a time and sent ahead. */
    quorvel_link* link = quorvel_link_connect(address, file, error, sizeof error);
    CHECK(link != NULL);
    if (link) {
        int32_t result = 0;
        CHECK(quorvel_link_call(link, 0x8190, 3, 110000, &result) == 0);
        CHECK(result == 110003);
        CHECK(quorvel_link_call(link, 0x81F5, 77, -78, &result) == 0); /* an OrderID: any */
        CHECK(result == -1);
        CHECK(strcmp(quorvel_link_error(link), "") == 0);
        for (int i = 0; i < 5; ++i) CHECK(quorvel_link_send(link, 0x8191, 5, i) == 0);
        for (int i = 0; i < 5; ++i) {
            CHECK(quorvel_link_receive(link, &result) == 0);
            CHECK(result == 5 + i);
        }
        /* EA 9 is not this machine's: the desk closes the link. */
        CHECK(quorvel_link_call(link, 0x8190, 9, 1, &result) != 0);
        CHECK(strlen(quorvel_link_error(link)) > 0);
        CHECK(quorvel_link_call(link, 0x8190, 3, 1, &result) != 0);
        quorvel_link_close(link);
    }

    /* The desk's local socket, without a certificate. */
    link = quorvel_link_connect(socketPath, NULL, error, sizeof error);
    CHECK(link != NULL);
    if (link) {
        int32_t result = 0;
        CHECK(quorvel_link_call(link, 0x8190, 150, 1, &result) == 0);
        CHECK(result == 151);
        quorvel_link_close(link);
    }

    /* What does not connect says why, within the buffer it is given. */
    char small[8];
    CHECK(quorvel_link_connect(address, "/nonexistent/machine.pem", small, sizeof small) == NULL);
    CHECK(strlen(small) == sizeof small - 1);
    CHECK(quorvel_link_connect("127.0.0.1", file, error, sizeof error) == NULL);
    CHECK(strstr(error, "host:port") != NULL);
    CHECK(quorvel_link_connect(NULL, NULL, error, sizeof error) == NULL);
    CHECK(quorvel_link_call(NULL, 0x8190, 1, 1, NULL) == -1);
    quorvel_link_close(NULL);

    close(toDesk[1]); /* the test desk ends */
    int status = 0;
    waitpid(pid, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
