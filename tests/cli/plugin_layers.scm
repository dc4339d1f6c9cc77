; Exports the layer plug-in-tessaform makes from each source PNG, for every
; interpolation, and the layer plug-in-tessaform-rectify makes from a path
; on CLI_PHOTO's corners, so tessaform-warp's files can be compared with
; them byte for byte. CLI_WORK holds the sources; CLI_FROM and CLI_TO the
; corners.
(define (cli-corners name)
  (let ((port (open-input-string (getenv name))))
    (let loop ((acc '()))
      (let ((v (read port)))
        (if (eof-object? v) (reverse acc) (loop (cons v acc)))))))

(define (cli-export-layers kind)
  (let* ((dir (getenv "CLI_WORK"))
         (src (string-append dir "/" kind ".png"))
         (image (car (file-png-load RUN-NONINTERACTIVE src src)))
         (drawable (car (gimp-image-get-active-layer image)))
         (from (cli-corners "CLI_FROM"))
         (to (cli-corners "CLI_TO")))
    (for-each
     (lambda (interpolation)
       (let* ((layer (car (apply plug-in-tessaform
                                 (append (list RUN-NONINTERACTIVE image drawable "cli")
                                         from to (list interpolation 0 0)))))
              (out (string-append dir "/gimp-" kind "-"
                                  (number->string interpolation) ".png")))
         ; Colour under zero alpha is kept: the comparison covers every byte.
         (file-png-save2 RUN-NONINTERACTIVE image layer out out 0 9 0 0 0 0 0 0 1)))
     '(0 1 2 3))
    (gimp-image-delete image)))

; The rectified rectangle for each interpolation, anti-aliased for the odd
; ones, its size estimated.
(define (cli-export-rectified kind)
  (let* ((dir (getenv "CLI_WORK"))
         (src (string-append dir "/" kind ".png"))
         (image (car (file-png-load RUN-NONINTERACTIVE src src)))
         (drawable (car (gimp-image-get-active-layer image)))
         (corners (map exact->inexact (cli-corners "CLI_PHOTO")))
         (path (car (gimp-vectors-new image "photo"))))
    (gimp-image-insert-vectors image path 0 -1)
    ; Each anchor with its handles on it.
    (gimp-vectors-stroke-new-from-points
     path 0 24
     (list->vector
      (let loop ((c corners) (acc '()))
        (if (null? c)
            (reverse acc)
            (loop (cddr c) (append (list (cadr c) (car c) (cadr c) (car c) (cadr c) (car c))
                                   acc)))))
     0)
    (for-each
     (lambda (interpolation)
       (let* ((layer (car (plug-in-tessaform-rectify RUN-NONINTERACTIVE image drawable path
                                                     0 0 interpolation
                                                     (modulo interpolation 2))))
              (out (string-append dir "/gimp-rectified-" kind "-"
                                  (number->string interpolation) ".png")))
         (file-png-save2 RUN-NONINTERACTIVE image layer out out 0 9 0 0 0 0 0 0 1)))
     '(0 1 2 3))
    (gimp-image-delete image)))

(cli-export-layers "rgb")
(cli-export-layers "rgba")
(cli-export-rectified "rgb")
(cli-export-rectified "rgba")
