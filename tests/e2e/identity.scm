; A quadrangle mapped onto itself reproduces the source exactly wherever the
; new layer is written, with nearest and with bilinear sampling, for every
; 8-bit drawable type and for a 16-bit image; the source stays untouched and
; an active selection does not clip the result.

; Slanted on purpose: the written area follows the grown quadrangle, not a box.
(define e2e-quad '((2.5 1.75) (13.25 2.5) (14 10.25) (1.75 9.5)))

(define (e2e-copy-case name type precision bits16)
  (group name
    (lambda ()
      (let* ((nch (channels-of-type type))
             (value (pattern-value nch))
             (im (make-image 16 12 type 16 12 0 0 precision))
             (image (car im)) (src (cadr im))
             (s (source 0 0 16 12 nch value)))
        (fill-drawable src nch value bits16)
        (for-each
         (lambda (interpolation kernel)
           (let ((layer (tessaform image src e2e-quad e2e-quad interpolation)))
             (if bits16
                 (check (string-append (symbol->string kernel) ": 16 bits per channel")
                        (* 2 nch) (car (gimp-drawable-bpp layer))))
             (check-new-layer (symbol->string kernel) image src layer e2e-quad e2e-quad
                              kernel s bits16)))
         '(0 1) '(nearest bilinear))
        (check-source-intact "source unchanged after both calls" src nch value bits16)))))

(define (e2e-cases)
  (e2e-copy-case "RGB" RGB-IMAGE #f #f)
  (e2e-copy-case "RGBA" RGBA-IMAGE #f #f)
  (e2e-copy-case "GRAY" GRAY-IMAGE #f #f)
  (e2e-copy-case "GRAYA" GRAYA-IMAGE #f #f)
  (e2e-copy-case "RGBA 16-bit" RGBA-IMAGE PRECISION-U16-GAMMA #t)
  (e2e-copy-case "GRAY 16-bit" GRAY-IMAGE PRECISION-U16-GAMMA #t)

  (group "selection does not clip"
    (lambda ()
      (let* ((im (make-image 16 12 RGBA-IMAGE 16 12 0 0 #f))
             (image (car im)) (src (cadr im))
             (s (source 0 0 16 12 4 (pattern-value 4))))
        (fill-drawable src 4 (pattern-value 4) #f)
        (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 0 0 8 8)
        (let ((layer (tessaform image src e2e-quad e2e-quad 0)))
          (check-new-layer "with selection (0, 0, 8, 8)" image src layer e2e-quad e2e-quad
                           'nearest s #f)
          (check "selection kept" '(1 0 0 8 8) (gimp-selection-bounds image)))))))
